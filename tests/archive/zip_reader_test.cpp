#include "archive/zip_reader.h"

#include <gtest/gtest.h>

#include "archive/zip_item_writer.h"
#include "common/error.h"
#include "memory_file.h"
#include "platform/file_slice.h"
#include "platform/file_system.h"
#include "zip_test_support.h"
#include "zip_test_tree.h"

namespace volok::testing {
namespace {

namespace fs = std::filesystem;
using platform::FileSystem;

// Made by Info-ZIP zip 3.0 with -P secret: "hello.txt" (deflated, with
// Info-ZIP's UT and ux extra fields) and the folder "dir/".
const unsigned char InfoZipArchive[] = {
    0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x09, 0x00, 0x08, 0x00, 0x05, 0x39, 0xA6, 0x52, 0x00, 0x36, 0x55, 0x69,
    0x20, 0x00, 0x00, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x09, 0x00, 0x1C, 0x00, 0x68, 0x65, 0x6C, 0x6C, 0x6F, 0x2E,
    0x74, 0x78, 0x74, 0x55, 0x54, 0x09, 0x00, 0x03, 0xDA, 0x95, 0x93, 0x60, 0xDA, 0x95, 0x93, 0x60, 0x75, 0x78,
    0x0B, 0x00, 0x01, 0x04, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x4E, 0x4E, 0xB1, 0x86, 0xD7,
    0x23, 0x71, 0x9A, 0x27, 0x6B, 0x00, 0x02, 0xEF, 0xED, 0xB3, 0xEB, 0x58, 0x5C, 0x33, 0x2D, 0x99, 0x5E, 0x7E,
    0x84, 0x89, 0x95, 0x6E, 0xDF, 0xC3, 0x39, 0x09, 0x04, 0x50, 0x4B, 0x07, 0x08, 0x00, 0x36, 0x55, 0x69, 0x20,
    0x00, 0x00, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x50, 0x4B, 0x03, 0x04, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05,
    0x39, 0xA6, 0x52, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x1C,
    0x00, 0x64, 0x69, 0x72, 0x2F, 0x55, 0x54, 0x09, 0x00, 0x03, 0xDA, 0x95, 0x93, 0x60, 0xEC, 0x24, 0x19, 0x6B,
    0x75, 0x78, 0x0B, 0x00, 0x01, 0x04, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x50, 0x4B, 0x01,
    0x02, 0x1E, 0x03, 0x14, 0x00, 0x09, 0x00, 0x08, 0x00, 0x05, 0x39, 0xA6, 0x52, 0x00, 0x36, 0x55, 0x69, 0x20,
    0x00, 0x00, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x09, 0x00, 0x18, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
    0x00, 0xA4, 0x81, 0x00, 0x00, 0x00, 0x00, 0x68, 0x65, 0x6C, 0x6C, 0x6F, 0x2E, 0x74, 0x78, 0x74, 0x55, 0x54,
    0x05, 0x00, 0x03, 0xDA, 0x95, 0x93, 0x60, 0x75, 0x78, 0x0B, 0x00, 0x01, 0x04, 0x00, 0x00, 0x00, 0x00, 0x04,
    0x00, 0x00, 0x00, 0x00, 0x50, 0x4B, 0x01, 0x02, 0x1E, 0x03, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x39,
    0xA6, 0x52, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x18, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0xED, 0x41, 0x73, 0x00, 0x00, 0x00, 0x64, 0x69, 0x72, 0x2F,
    0x55, 0x54, 0x05, 0x00, 0x03, 0xDA, 0x95, 0x93, 0x60, 0x75, 0x78, 0x0B, 0x00, 0x01, 0x04, 0x00, 0x00, 0x00,
    0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x50, 0x4B, 0x05, 0x06, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x02, 0x00,
    0x99, 0x00, 0x00, 0x00, 0xB1, 0x00, 0x00, 0x00, 0x00, 0x00,
};

class ZipReading : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(FTemp.Native("out")); }
  std::string Out() const { return FTemp.File("out"); }
  std::string Archive() const { return FTemp.File("a.zip"); }
  std::string ArchiveBytes() const { return ReadNative(FTemp.Native("a.zip")); }
  void SetArchiveBytes(const std::string& bytes) { WriteNative(FTemp.Native("a.zip"), bytes); }

  // An archive whose items carry the given stored names, each holding its
  // own name as data.
  void WriteNamedItems(const std::vector<std::string>& names) {
    fs::create_directories(FTemp.Native("data"));
    std::vector<archive::ZipSource> sources;
    for (std::size_t i = 0; i < names.size(); ++i) {
      std::string file = "data/" + std::to_string(i);
      WriteNative(FTemp.Native(file), names[i]);
      sources.push_back({FTemp.File("data\\" + std::to_string(i)), names[i], false, 0, 132'000'000'000'000'000});
    }
    std::unique_ptr<platform::File> out;
    ASSERT_TRUE(FileSystem::Default()
                    .OpenFile(Archive(), platform::FileAccess::CreateAlways, platform::FileShare::None, out)
                    .ok());
    archive::WriteZipArchive(*out, sources, ArchivePassword);
  }

  TempFolder FTemp;
};

TEST_F(ZipReading, ArchivesOfInfoZipAreExtracted) {
  SetArchiveBytes(std::string(reinterpret_cast<const char*>(InfoZipArchive), sizeof InfoZipArchive));
  EXPECT_EQ(UnpackArchive(Archive(), Out(), "secret"), 2u);
  EXPECT_EQ(ReadTree(FTemp.Native("out")),
            (Tree{{"hello.txt", "Hello, volok! Hello, volok! Hello, volok!\n"}, {"dir/", ""}}));
}

TEST_F(ZipReading, WrongPasswordWritesNoFileAndKeepsExistingOnes) {
  WriteTree(FTemp.Native("src"), SampleTree());
  PackFolder(FTemp.File("src"), Archive());
  WriteNative(FTemp.Native("out/readme.txt"), "older copy");
  // Only the four folder items carry no password check.
  EXPECT_EQ(UnpackArchive(Archive(), Out(), "not the password"), 4u);
  EXPECT_EQ(ReadTree(FTemp.Native("out")), (Tree{{"readme.txt", "older copy"},
                                                  {"Документы/", ""},
                                                  {"bin/", ""},
                                                  {"bin/lib/", ""},
                                                  {"empty folder/", ""}}));
}

TEST_F(ZipReading, DamagedDataFailsOnlyItsItem) {
  WriteTree(FTemp.Native("src"), {{"stored.bin", RandomBytes(100'000, 5)},
                                  {"deflated.txt", TextBytes(100'000)},
                                  {"intact.txt", "intact"}});
  PackFolder(FTemp.File("src"), Archive());
  std::string bytes = ArchiveBytes();
  {
    ZipReader reader;  // closed before the file is rewritten: Windows shares it for reading only
    reader.Open(Archive());
    for (std::size_t i = 0; i < reader.Count(); ++i) {
      const archive::ZipItemInfo& item = reader.Item(i);
      if (item.FName == "intact.txt") continue;
      std::size_t header = item.FLocalHeaderOffset;
      std::size_t extra = archive::LoadU16(reinterpret_cast<const std::uint8_t*>(&bytes[header + 28]));
      std::size_t data = header + archive::LocalHeaderSize + item.FName.size() + extra + 12;
      bytes[data + item.FCompressedSize / 2] ^= 0x40;
    }
  }
  SetArchiveBytes(bytes);
  WriteNative(FTemp.Native("out/stored.bin"), "older copy");
  EXPECT_EQ(UnpackArchive(Archive(), Out()), 1u);
  // Nothing of a failed item stays, and the file it would have replaced
  // is kept.
  EXPECT_EQ(ReadTree(FTemp.Native("out")).size(), 2u);
  EXPECT_EQ(ReadNative(FTemp.Native("out/intact.txt")), "intact");
  EXPECT_EQ(ReadNative(FTemp.Native("out/stored.bin")), "older copy");
}

TEST_F(ZipReading, NamesThatLeaveTheBaseFolderWriteNothingOutsideIt) {
  fs::create_directories(FTemp.Native("out/inner"));
  WriteNamedItems({"../escaped.txt", "inner/../../escaped2.txt", "/abs.txt", "\\abs2.txt", "C:/drive.txt",
                   "inner/../refused.txt", "inner/ok.txt"});
  ZipReader reader;
  reader.Open(Archive());
  reader.SetPassword(std::string(ArchivePassword));
  reader.SetBaseFolder(FTemp.File("out\\inner"));
  EXPECT_EQ(reader.ExtractFiles("*.*"), 1u);
  EXPECT_EQ(reader.Count(), 7u);
  EXPECT_EQ(ReadTree(FTemp.Native("out")), (Tree{{"inner/", ""}, {"inner/inner/", ""}, {"inner/inner/ok.txt", "inner/ok.txt"}}));
  EXPECT_FALSE(fs::exists("/abs.txt"));
  EXPECT_FALSE(fs::exists(FTemp.Native("escaped.txt")));
}

// The system call cuts a path at a NUL: "..<NUL>/" would name the parent
// of the base folder, and a folder item's attributes and time would land
// on it (with C:\\Program Files\\App as the base, on C:\\Program Files).
TEST_F(ZipReading, NamesWithControlCharactersTouchNothing) {
  fs::create_directories(FTemp.Native("out/inner"));
  FileSystem& files = FileSystem::Default();
  std::uint32_t attributes_before = 0, attributes_after = 0;
  platform::FileTime time_before = 0, time_after = 0;
  ASSERT_TRUE(files.GetAttributes(Out(), attributes_before).ok());
  ASSERT_TRUE(files.GetLastWriteTime(Out(), time_before).ok());
  constexpr platform::FileTime June1990 = 122'898'816'000'000'000;
  std::vector<archive::ZipSource> sources = {{"", std::string("..\0/", 4), true, 0x17, June1990},
                                             {"", std::string("sub\0x/", 6), true, 0x17, June1990},
                                             {"", "ok/", true, 0, June1990}};
  std::unique_ptr<platform::File> out;
  ASSERT_TRUE(files.OpenFile(Archive(), platform::FileAccess::CreateAlways, platform::FileShare::None, out).ok());
  archive::WriteZipArchive(*out, sources, ArchivePassword);
  out.reset();

  ZipReader reader;
  reader.Open(Archive());
  reader.SetBaseFolder(FTemp.File("out\\inner"));
  EXPECT_EQ(reader.ExtractFiles("*.*"), 1u);
  ASSERT_TRUE(files.GetAttributes(Out(), attributes_after).ok());
  ASSERT_TRUE(files.GetLastWriteTime(Out(), time_after).ok());
  EXPECT_EQ(attributes_after, attributes_before);
  EXPECT_EQ(time_after, time_before);
  EXPECT_EQ(ReadTree(FTemp.Native("out")), (Tree{{"inner/", ""}, {"inner/ok/", ""}}));
}

// Items packed on POSIX carry a mode in the high half of their attributes:
// the Windows bits in the low half still apply everywhere, and POSIX gives
// the files their execute bits.
TEST_F(ZipReading, ItemsWithPosixModesKeepTheirWindowsAttributes) {
  fs::create_directories(FTemp.Native("data"));
  WriteNative(FTemp.Native("data/tool"), "#!/bin/sh\n");
  WriteNative(FTemp.Native("data/text"), "text");
  constexpr platform::FileTime Time = 132'000'000'000'000'000;
  std::vector<archive::ZipSource> sources = {
      {"", "bin/", true, 0x10, Time, 040755},
      {FTemp.File("data\\tool"), "bin/tool", false, 0x21, Time, 0100755},
      {FTemp.File("data\\text"), "bin/.text", false, 0x22, Time, 0100644}};
  std::unique_ptr<platform::File> out;
  FileSystem& files = FileSystem::Default();
  ASSERT_TRUE(files.OpenFile(Archive(), platform::FileAccess::CreateAlways, platform::FileShare::None, out).ok());
  archive::WriteZipArchive(*out, sources, ArchivePassword);
  out.reset();

  ZipReader reader;
  reader.Open(Archive());
  reader.SetPassword(std::string(ArchivePassword));
  reader.SetBaseFolder(Out());
  ASSERT_EQ(reader.ExtractFiles("*.*"), 3u);
  EXPECT_EQ(reader.Item(1).PosixMode(), 0100755u);
  std::uint32_t attributes = 0;
  ASSERT_TRUE(files.GetAttributes(Out() + "\\bin\\tool", attributes).ok());
  EXPECT_EQ(attributes & 0x37, 0x21u);
  ASSERT_TRUE(files.GetAttributes(Out() + "\\bin\\.text", attributes).ok());
  EXPECT_EQ(attributes & 0x37, 0x22u);
  EXPECT_EQ(ReadNative(FTemp.Native("out/bin/tool")), "#!/bin/sh\n");
#ifndef _WIN32
  auto mode = [&](const char* name) { return static_cast<unsigned>(fs::status(FTemp.Native(name)).permissions()); };
  EXPECT_NE(mode("out/bin/tool") & 0100, 0u);
  EXPECT_EQ(mode("out/bin/.text") & 0111, 0u);
#endif
}

TEST_F(ZipReading, ReadOnlyTargetFailsItsItemAndMissingParentStopsTheRun) {
  WriteNamedItems({"a.txt", "locked.txt", "blocked/b.txt", "c.txt"});
  WriteNative(FTemp.Native("out/locked.txt"), "keep");
  ASSERT_TRUE(FileSystem::Default().SetAttributes(Out() + "\\locked.txt", platform::FileAttribute::ReadOnly).ok());
  WriteNative(FTemp.Native("out/blocked"), "a file where a folder is needed");
  ZipReader reader;
  reader.Open(Archive());
  reader.SetPassword(std::string(ArchivePassword));
  reader.SetBaseFolder(Out() + "\\");
  EXPECT_THROW(reader.ExtractFiles("*.*"), Error);
  EXPECT_EQ(reader.Extracted(), 1u);
  EXPECT_EQ(ReadNative(FTemp.Native("out/locked.txt")), "keep");
  EXPECT_FALSE(fs::exists(FTemp.Native("out/c.txt")));  // after the stop
  ASSERT_TRUE(FileSystem::Default().SetAttributes(Out() + "\\locked.txt", 0).ok());
}

TEST_F(ZipReading, UnreadableArchivesFailAtOpening) {
  ZipReader reader;
  EXPECT_THROW(reader.Open(FTemp.File("missing.zip")), Error);
  SetArchiveBytes("");
  EXPECT_THROW(reader.Open(Archive()), Error);
  SetArchiveBytes(RandomBytes(70'000, 9));
  EXPECT_THROW(reader.Open(Archive()), Error);
  SetArchiveBytes("PK\x05\x06");
  EXPECT_THROW(reader.Open(Archive()), Error);

  WriteNamedItems({"a.txt", "b.txt"});
  std::string bytes = ArchiveBytes();
  SetArchiveBytes(bytes.substr(0, bytes.size() - 30));  // end record cut
  EXPECT_THROW(reader.Open(Archive()), Error);
  // A forged count that the directory cannot hold is refused before any
  // allocation follows it.
  std::string forged = bytes;
  forged[forged.size() - 12] = '\xFF';
  forged[forged.size() - 11] = '\x7F';
  forged[forged.size() - 14] = '\xFF';
  forged[forged.size() - 13] = '\x7F';
  SetArchiveBytes(forged);
  EXPECT_THROW(reader.Open(Archive()), Error);

  SetArchiveBytes(bytes);
  reader.Open(Archive());
  EXPECT_EQ(reader.Count(), 2u);
  EXPECT_THROW(reader.SetBaseFolder(FTemp.File("missing")), Error);
}

TEST_F(ZipReading, ForgedSizesFailTheirItemOnly) {
  WriteNamedItems({"a.txt", "b.txt", "c.txt"});
  std::string bytes = ArchiveBytes();
  std::size_t directory = bytes.find("PK\x01\x02");
  // Item a: uncompressed size claims more than the data holds; item b:
  // less. (An offset outside the data is refused at opening, see
  // zip_directory_test.)
  bytes[directory + 24 + 2] = '\x70';
  std::size_t second = bytes.find("PK\x01\x02", directory + 4);
  bytes[second + 24] = 1;
  SetArchiveBytes(bytes);
  EXPECT_EQ(UnpackArchive(Archive(), Out()), 1u);
  EXPECT_EQ(ReadTree(FTemp.Native("out")), (Tree{{"c.txt", "c.txt"}}));
}

// A payload attached to a larger file (a single-file package) is read
// through a view of its bytes: the archive before and after it, another
// archive's end record included, is never read nor taken for its own.
TEST_F(ZipReading, AnArchiveInsideALargerFileIsReadThroughItsViewOnly) {
  WriteTree(FTemp.Native("src"), SampleTree());
  PackFolder(FTemp.File("src"), Archive());
  const std::string archive = ArchiveBytes();
  const std::string before(1000, 'B');
  const std::string after = std::string(reinterpret_cast<const char*>(InfoZipArchive), sizeof InfoZipArchive);
  // Once with another archive after it, once ending where the view ends,
  // so that a read past the view would be a read past the file's end.
  for (const std::string& rest : {after, std::string()}) {
    MemoryFile whole(before + archive + rest);
    auto view = std::make_unique<platform::FileSlice>(whole, before.size(), archive.size());
    ZipReader reader;
    reader.Open(std::move(view), "view");
    reader.SetPassword(std::string(ArchivePassword));
    reader.SetBaseFolder(Out());
    EXPECT_EQ(reader.ExtractFiles("*.*"), reader.Count());
    EXPECT_EQ(ReadTree(FTemp.Native("out")), SampleTree());
    EXPECT_FALSE(whole.ReadPastEnd);
  }
  MemoryFile whole(before + archive + after);
  platform::FileSlice tail(whole, before.size() + archive.size() - 10, 10);
  char buffer[64];
  std::size_t done = 0;
  ASSERT_TRUE(tail.ReadAt(4, buffer, sizeof buffer, done).ok());
  EXPECT_EQ(done, 6u);
  ASSERT_TRUE(tail.ReadAt(10, buffer, sizeof buffer, done).ok());
  EXPECT_EQ(done, 0u);
  EXPECT_FALSE(tail.Write("x", 1).ok());
}

}  // namespace
}  // namespace volok::testing
