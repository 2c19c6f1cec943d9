// Directories that lie about where items are, how many there are or where
// the directory itself is: refused at opening with the damaged-archive
// error, before any allocation follows the lie.
#include <gtest/gtest.h>

#include <filesystem>

#include "archive/zip64.h"
#include "archive/zip_item_writer.h"
#include "common/error.h"
#include "platform/file_system.h"
#include "zip_test_support.h"
#include "zip_test_tree.h"

namespace volok::testing {
namespace {

namespace fs = std::filesystem;
using platform::FileSystem;

void StoreU32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint32_t LoadU32At(const std::string& bytes, std::size_t at) {
  return archive::LoadU32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + at);
}

class ZipDirectoryLies : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<archive::ZipSource> sources;
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
      WriteNative(FTemp.Native(name), TextBytes(2000));
      sources.push_back({FTemp.File(name), name, false, 0, 132'000'000'000'000'000});
    }
    std::unique_ptr<platform::File> out;
    ASSERT_TRUE(FileSystem::Default()
                    .OpenFile(Archive(), platform::FileAccess::CreateAlways, platform::FileShare::None, out)
                    .ok());
    archive::WriteZipArchive(*out, sources, ArchivePassword);
    out.reset();
    FBytes = ReadNative(FTemp.Native("a.zip"));
    FDirectory = LoadU32At(FBytes, FBytes.size() - 6);
    FDirectorySize = LoadU32At(FBytes, FBytes.size() - 10);
  }
  std::string Archive() const { return FTemp.File("a.zip"); }
  // The n-th central directory entry's position.
  std::size_t Entry(int n) const {
    std::size_t pos = FDirectory;
    for (int i = 0; i < n; ++i) pos = FBytes.find("PK\x01\x02", pos + 4);
    return pos;
  }
  // Opens the archive made of `bytes`; answers the error text, empty when
  // it opened.
  std::string OpenError(const std::string& bytes) {
    WriteNative(FTemp.Native("a.zip"), bytes);
    ZipReader reader;
    try {
      reader.Open(Archive());
    } catch (const Error& e) {
      return e.what();
    }
    return std::string();
  }
  std::size_t LocalHeaderAt(int n) const { return LoadU32At(FBytes, Entry(n) + 42); }
  // The archive with a ZIP64 end record and locator before its end record.
  std::string WithZip64End(std::uint64_t items, std::uint64_t size, std::uint64_t offset) const {
    std::size_t end = FDirectory + FDirectorySize;
    return FBytes.substr(0, end) + archive::EncodeZip64End(items, size, offset) + FBytes.substr(end);
  }

  TempFolder FTemp;
  std::string FBytes;
  std::size_t FDirectory = 0;
  std::size_t FDirectorySize = 0;
};

TEST_F(ZipDirectoryLies, EveryLieIsRefusedAsADamagedArchive) {
  ASSERT_EQ(OpenError(FBytes), "");
  std::vector<std::pair<const char*, std::string>> lies;
  auto forge = [&](const char* what, std::size_t at, std::uint32_t value) {
    std::string bytes = FBytes;
    StoreU32(bytes, at, value);
    lies.emplace_back(what, bytes);
  };
  forge("directory past the end of the file", FBytes.size() - 6, FDirectory + 100);
  forge("directory larger than the file", FBytes.size() - 10, 0x7FFFFFF0);
  forge("two entries share one item", Entry(1) + 42, LocalHeaderAt(0));
  forge("item data runs into the next item", Entry(0) + 20, LocalHeaderAt(1) + 10);
  forge("last item runs into the directory", Entry(2) + 20, FDirectory - LocalHeaderAt(2));
  forge("item starts inside the directory", Entry(2) + 42, FDirectory + 4);
  forge("item starts past the file", Entry(0) + 42, 0xFFFFFF00u);
  // The ZIP64 end record's 8-byte numbers give room for bigger lies.
  lies.emplace_back("count of 2^60 items", WithZip64End(std::uint64_t{1} << 60, FDirectorySize, FDirectory));
  lies.emplace_back("size that wraps around", WithZip64End(3, ~std::uint64_t{0} - 20, FDirectory));
  std::string outside = WithZip64End(3, FDirectorySize, FDirectory);
  StoreU32(outside, outside.size() - archive::EndRecordSize - 12, 0x7FFFFFFF);
  lies.emplace_back("ZIP64 record past the file", outside);
  for (const auto& [what, bytes] : lies) EXPECT_NE(OpenError(bytes).find("Архив повреждён"), std::string::npos) << what;
}

TEST_F(ZipDirectoryLies, ATruthfulZip64EndRecordIsRead) {
  // The same directory behind ZIP64 end records, as peers write them for
  // small archives too.
  ASSERT_EQ(OpenError(WithZip64End(3, FDirectorySize, FDirectory)), "");
  fs::create_directories(FTemp.Native("out"));
  EXPECT_EQ(UnpackArchive(Archive(), FTemp.File("out")), 3u);
  EXPECT_EQ(ReadNative(FTemp.Native("out/c.txt")), TextBytes(2000));
}

}  // namespace
}  // namespace volok::testing
