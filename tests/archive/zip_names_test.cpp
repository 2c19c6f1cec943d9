#include "archive/zip_names.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "archive/zip_format.h"
#include "common/file_utils.h"

namespace volok::archive {
namespace {

TEST(ZipNames, StoredNamesAreRelativeWithSlashes) {
  struct Case {
    const char* FPath;
    bool FFolder;
    const char* FExpected;
  };
  const Case cases[] = {
      {"a.txt", false, "a.txt"},
      {"sub\\deep\\a.txt", false, "sub/deep/a.txt"},
      {"sub\\folder", true, "sub/folder/"},
      {"C:\\x\\y.txt", false, "x/y.txt"},
      {"\\rooted.txt", false, "rooted.txt"},
      {"..\\..\\up.txt", false, "up.txt"},
      {"..folder\\a", false, "..folder/a"},  // a name that merely starts with dots stays
      {"Папка\\файл.txt", false, "Папка/файл.txt"},
  };
  for (const Case& c : cases) EXPECT_EQ(StoredName(c.FPath, c.FFolder), c.FExpected) << c.FPath;
}

TEST(ZipNames, TargetsStayInsideTheBaseFolder) {
  struct Case {
    std::string FName;
    const char* FExpected;  // nullptr: refused
  };
  const Case cases[] = {
      {"a.txt", "C:\\base\\a.txt"},
      {"sub/b.txt", "C:\\base\\sub\\b.txt"},
      {"sub/", "C:\\base\\sub"},
      {"sub\\win.txt", "C:\\base\\sub\\win.txt"},
      {"./a//b/c.txt", "C:\\base\\a\\b\\c.txt"},
      {"a..b/c. d.txt", "C:\\base\\a..b\\c. d.txt"},
      {"../evil.txt", nullptr},
      {"a/b/../c.txt", nullptr},  // even a ".." that stays inside: not a plain path
      {std::string("..\0/", 4), nullptr},
      {"sub/..\x01x", nullptr},
      {"tab\tname.txt", nullptr},
      {"bell\x7F.txt", nullptr},
      {"c1\xC2\x85.txt", nullptr},  // U+0085, a control character too
      {"sub/.../x.txt", nullptr},     // Windows trims "..." and ". ." towards ".."
      {".. /x.txt", nullptr},
      {"sub/. ./x.txt", nullptr},
      {"a?.txt", nullptr},
      {"a*.txt", nullptr},
      {"sub/a\"b.txt", nullptr},
      {"a<b>.txt", nullptr},
      {"a|b.txt", nullptr},
      {"CON", nullptr},
      {"sub/nul.txt", nullptr},
      {"Com1 .log", nullptr},
      {"console.txt", "C:\\base\\console.txt"},
      {"com10.txt", "C:\\base\\com10.txt"},
      {"sub/../../evil.txt", nullptr},
      {"/etc/passwd", nullptr},
      {"\\Windows\\evil.dll", nullptr},
      {"C:/evil.txt", nullptr},
      {"c:evil.txt", nullptr},
      {"file.txt:stream", nullptr},
      {"sub/..", nullptr},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    std::optional<std::string> target = TargetPath("C:\\base", c.FName);
    if (c.FExpected) {
      ASSERT_TRUE(target.has_value()) << c.FName;
      EXPECT_EQ(*target, c.FExpected) << c.FName;
    } else {
      EXPECT_FALSE(target.has_value()) << c.FName << " -> " << target.value_or("");
    }
  }
  EXPECT_EQ(TargetPath("C:\\", "a.txt").value_or(""), "C:\\a.txt");
}

TEST(ZipNames, MasksFollowWindowsWildcards) {
  EXPECT_TRUE(MatchesMask("no-extension", "*.*"));
  EXPECT_TRUE(MatchesMask("sub/deep/a.txt", "*"));
  EXPECT_TRUE(MatchesMask("REPORT.TXT", "*.txt"));
  EXPECT_TRUE(MatchesMask("Отчёт.txt", "отчёт.*"));
  EXPECT_TRUE(MatchesMask("a1.log", "a?.log"));
  EXPECT_FALSE(MatchesMask("a12.log", "a?.log"));
  EXPECT_FALSE(MatchesMask("readme.md", "*.txt"));
  EXPECT_TRUE(MatchesMask("x.tar.gz", "*.gz"));
}

std::string UnicodePathExtra(const std::string& header_name, const std::string& utf8_name) {
  auto crc = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(header_name.data()), static_cast<uInt>(header_name.size())));
  std::size_t size = 5 + utf8_name.size();
  std::string extra = {'\x75', '\x70', static_cast<char>(size), static_cast<char>(size >> 8), '\x01'};
  for (int shift = 0; shift < 32; shift += 8) extra += static_cast<char>(crc >> shift);
  return extra + utf8_name;
}

TEST(ZipNames, StoredNamesDecodeFromEveryEncodingPeersUse) {
  const std::string utf8 = "Папка/файл.txt";
  const std::string cp866 = "\x8F\xA0\xAF\xAA\xA0/\xE4\xA0\xA9\xAB.txt";
  EXPECT_EQ(DecodeStoredName(utf8, FlagUtf8Name, ""), utf8);
  EXPECT_EQ(DecodeStoredName(utf8, 0, ""), utf8);  // Linux tools write UTF-8 without the flag
  EXPECT_EQ(DecodeStoredName(cp866, 0, ""), utf8);
  // Info-ZIP's Unicode Path field counts only when it belongs to this name.
  std::string unknown_extra = std::string("\x99\x99\x02\x00" "ab", 6);
  EXPECT_EQ(DecodeStoredName("legacy.txt", 0, unknown_extra + UnicodePathExtra("legacy.txt", utf8)), utf8);
  EXPECT_EQ(DecodeStoredName("renamed.txt", 0, UnicodePathExtra("legacy.txt", utf8)), "renamed.txt");
  // A field that claims more bytes than there are is ignored, not read past.
  EXPECT_EQ(DecodeStoredName("a.txt", 0, std::string("\x75\x70\xFF\x00\x01", 5)), "a.txt");
  EXPECT_EQ(DecodeStoredName("bad\xFF", FlagUtf8Name, ""), "bad\xEF\xBF\xBD");
}

}  // namespace
}  // namespace volok::archive
