// Text files: byte-order marks, code pages, and whole-file reads and writes.
#include "common/text_file.h"

#include <gtest/gtest.h>

#include "common/error.h"
#include "platform/code_pages.h"
#include "platform/file_system.h"
#include "temp_folder.h"

namespace volok {
namespace {

using testing::ReadNative;
using testing::TempFolder;
using testing::WriteNative;

class TextFileTest : public ::testing::Test {
 protected:
  std::string Read(const std::string& bytes) {
    WriteNative(FFolder.Native("in.txt"), bytes);
    return ReadTextFile(FFolder.File("in.txt"));
  }
  std::string Written(const std::string& text, unsigned code_page) {
    WriteTextFile(text, FFolder.File("out.txt"), code_page);
    return ReadNative(FFolder.Native("out.txt"));
  }

  TempFolder FFolder;
};

TEST_F(TextFileTest, ByteOrderMarksChooseTheEncodingAndAreDropped) {
  EXPECT_EQ(Read("\xEF\xBB\xBFЁж"), "Ёж");
  EXPECT_EQ(Read(std::string("\xFF\xFE\x01\x04\x36\x04", 6)), "Ёж");
  EXPECT_EQ(Read(std::string("\xFE\xFF\x04\x01\x04\x36", 6)), "Ёж");
  // A second mark inside the first is dropped too, a third is text.
  EXPECT_EQ(Read(std::string("\xFF\xFE\xFF\xFE" "a\0", 6)), "a");
  EXPECT_EQ(Read("\xEF\xBB\xBF\xEF\xBB\xBF\xEF\xBB\xBFx"), "\xEF\xBB\xBFx");
  EXPECT_EQ(Read(""), "");
}

TEST_F(TextFileTest, UnmarkedFilesUseTheAnsiCodePage) {
  unsigned ansi = platform::CodePages::Default().ActiveAnsiCodePage();
  WriteTextFile("Daß é", FFolder.File("ansi.txt"), ansi);
  EXPECT_EQ(ReadTextFile(FFolder.File("ansi.txt")), "Daß é");
  if (ansi != 65001) {
    // A UTF-8 file without a mark is misread, as on Windows.
    EXPECT_NE(Read("Ёж"), "Ёж");
  }
}

TEST_F(TextFileTest, WritesEachCodePageWithoutMark) {
  EXPECT_EQ(Written("Ёж", 65001), "Ёж");
  EXPECT_EQ(Written("Ёж", 1200), std::string("\x01\x04\x36\x04", 4));
  EXPECT_EQ(Written("Ёж", 1201), std::string("\x04\x01\x04\x36", 4));
  EXPECT_EQ(Written("Ёж a", 1251), "\xA8\xE6 a");
  EXPECT_EQ(Written("a中b", 1251), "a?b");  // not in the code page
  EXPECT_EQ(Written("", 1251), "");
  std::string utf7 = Written("Ёж + a", 65000);
  EXPECT_EQ(utf7.find_first_of("\x80\xFF"), std::string::npos);
  std::string back;
  ASSERT_TRUE(platform::CodePages::Default().Decode(65000, utf7, back).ok());
  EXPECT_EQ(back, "Ёж + a");
}

TEST_F(TextFileTest, WholeFileBytesAndErrors) {
  std::string bytes(200000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  WriteFileBytes(bytes, FFolder.File("b.bin"));
  EXPECT_EQ(ReadFileBytes(FFolder.File("b.bin")), bytes);
  WriteFileBytes("", FFolder.File("b.bin"));  // truncates
  EXPECT_EQ(ReadNative(FFolder.Native("b.bin")), "");
  EXPECT_THROW(ReadFileBytes(FFolder.File("missing.txt")), Error);
  EXPECT_THROW(WriteFileBytes("x", FFolder.File("no\\such\\folder.txt")), Error);
  EXPECT_THROW(WriteTextFile("x", FFolder.File("x.txt"), 424242), Error);
}

TEST_F(TextFileTest, ReadingIsSharedWithAWriter) {
  std::unique_ptr<platform::File> writer;
  ASSERT_TRUE(platform::FileSystem::Default()
                  .OpenFile(FFolder.File("shared.txt"), platform::FileAccess::CreateAlways,
                            platform::FileShare::Read, writer)
                  .ok());
  ASSERT_TRUE(writer->Write("abc", 3).ok());
  EXPECT_EQ(ReadFileBytes(FFolder.File("shared.txt")), "abc");
#ifdef _WIN32
  // The writer shares reading only: a second writer is refused.
  EXPECT_THROW(WriteFileBytes("x", FFolder.File("shared.txt")), Error);
#endif
}

}  // namespace
}  // namespace volok
