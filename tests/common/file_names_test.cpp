#include "common/file_names.h"

#include <gtest/gtest.h>

namespace volok {
namespace {

TEST(FileNames, WindowsFileNamesAreThoseWindowsKeepAsTheyStand) {
  for (const char* name : {"a.txt", "Файл", ".hidden", "a b", "x.y.z", "console.txt", "com10", "a..b"})
    EXPECT_TRUE(IsWindowsFileName(name)) << name;
  for (const char* name : {"", ".", "..", "...", ". .", "a.", "a ", "c:foo", "a/b", "a\\b", "q?", "*", "a<b", "a\"b",
                           "a|b", "aux.txt", "CON", "Lpt9 .x", "conout$", "tab\t", "del\x7F", "c1\xC2\x85"})
    EXPECT_FALSE(IsWindowsFileName(name)) << name;
  EXPECT_FALSE(IsWindowsFileName(std::string_view("a\0b", 3)));
  // Trailing dots and blanks are trimmed by Windows, not refused on reading.
  EXPECT_TRUE(IsSafeNameSegment("a. "));
}

TEST(FileNames, PlainRelativePathsStayWhereTheyStart) {
  for (const char* path : {"a.zip", "sub\\a.zip", "sub/deep/a.zip", "Данные\\файл.dat"})
    EXPECT_TRUE(IsPlainRelativePath(path)) << path;
  for (const char* path : {"", "..\\escape.txt", "sub\\..\\..\\x", "sub\\..\\x", ".\\a", "\\root.txt", "/root.txt",
                           "C:\\x.txt", "c:x.txt", "sub\\\\a", "sub\\", "a.txt:stream", "setup.exe."})
    EXPECT_FALSE(IsPlainRelativePath(path)) << path;
}

}  // namespace
}  // namespace volok
