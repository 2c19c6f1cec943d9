// Extraction on several threads must leave exactly what extracting the
// items one by one in archive order leaves: the same files, times,
// attributes and count, and the same stop.
#include <gtest/gtest.h>

#include "archive/zip_extraction.h"
#include "zip_extract_support.h"
#include "zip_test_support.h"

namespace volok::testing {
namespace {

namespace fs = std::filesystem;
constexpr std::uint32_t ArchiveBit = platform::FileAttribute::Archive;
using platform::FileAttribute::Hidden;
using platform::FileAttribute::ReadOnly;
using platform::FileAttribute::System;

const std::uint8_t* Bytes(const std::string& bytes, std::size_t offset) {
  return reinterpret_cast<const std::uint8_t*>(bytes.data() + offset);
}

class ParallelExtraction : public ::testing::Test {
 protected:
  std::string Archive() const { return FTemp.File("a.zip"); }
  ExtractionResult Extract(unsigned threads) {
    return ExtractWithThreads(FTemp, Archive(), "out" + std::to_string(threads), threads);
  }
  void ExpectSameAsSerial(const ExtractionResult& serial) {
    for (unsigned threads : {2u, 4u, 7u}) EXPECT_EQ(Extract(threads), serial) << threads << " threads";
  }
  void ClearReadOnly(const std::string& folder) {
    for (const auto& entry : fs::recursive_directory_iterator(FTemp.Native(folder)))
      fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
  }

  TempFolder FTemp;
};

TEST_F(ParallelExtraction, ManyItemsLandAsTheyDoOneByOne) {
  Tree tree;
  for (int folder = 0; folder < 12; ++folder) {
    std::string name = "d" + std::to_string(folder) + (folder % 3 ? "/" : "/Папка/");
    tree[name] = "";
    for (int i = 0; i < 30; ++i) {
      std::size_t size = (folder * 31 + i * 17) % 9000;
      tree[name + "f" + std::to_string(i)] = i % 3 ? TextBytes(size) : RandomBytes(size, folder * 100 + i);
    }
  }
  tree["big.log"] = TextBytes(3'000'000);
  tree["empty/"] = "";
  WriteTree(FTemp.Native("src"), tree);
  ASSERT_TRUE(platform::FileSystem::Default().SetAttributes(FTemp.File("src\\d1\\f1"), ReadOnly).ok());
  ASSERT_TRUE(platform::FileSystem::Default().SetAttributes(FTemp.File("src\\d2\\f2"), Hidden).ok());
  PackFolder(FTemp.File("src"), Archive());

  ExtractionResult serial = Extract(1);
  EXPECT_FALSE(serial.FStopped);
  EXPECT_EQ(serial.FTree, ReadTree(FTemp.Native("src")));
  EXPECT_EQ(serial.FMeta.at("d1/f1").second & ReadOnly, ReadOnly);
  EXPECT_EQ(serial.FMeta.at("d2/f2").second & Hidden, Hidden);
  EXPECT_EQ(serial.FMeta.at("d4/f4").second & (ReadOnly | Hidden | System | ArchiveBit), ArchiveBit);
  ExpectSameAsSerial(serial);
  // Again over the same files: each is replaced, except the read-only one.
  ExtractionResult again = Extract(4);
  EXPECT_EQ(again.FExtracted, serial.FExtracted - 1);
  EXPECT_EQ(again.FTree, serial.FTree);
  EXPECT_EQ(again.FMeta, serial.FMeta);
  for (const char* folder : {"src", "out1", "out2", "out4", "out7"}) ClearReadOnly(folder);
}

TEST_F(ParallelExtraction, RepeatedNamesAreReplacedInArchiveOrder) {
  // Between the repeats, enough other items that they would overlap in
  // time; "Dup.TXT" is the same file as "dup.txt" on Windows only, and
  // "x.volok-part" is the name of the partial file of "x".
  ItemList items = {{"f/", ""}, {"Dup.TXT", "other case"}, {"x", "x data"}};
  for (int round = 0; round < 5; ++round) {
    for (int i = 0; i < 20; ++i) items.push_back({"f/" + std::to_string(round * 20 + i), TextBytes(5000 + i)});
    items.push_back({"dup.txt", "version " + std::to_string(round) + TextBytes(200'000)});
    items.push_back({"x.volok-part", "part " + std::to_string(round)});
  }
  WriteItemArchive(FTemp, Archive(), items);

  ExtractionResult serial = Extract(1);
  EXPECT_EQ(serial.FExtracted, items.size());
  std::size_t last_versions = 0;
  for (const auto& [name, data] : serial.FTree) {
    if (data.rfind("version", 0) == 0) {
      EXPECT_EQ(data.substr(0, 9), "version 4");
      ++last_versions;
    }
  }
  EXPECT_EQ(last_versions, 1u);
  EXPECT_EQ(serial.FTree["x.volok-part"], "part 4");
  EXPECT_EQ(serial.FTree["x"], "x data");
  ExpectSameAsSerial(serial);
}

TEST_F(ParallelExtraction, AFolderThatCannotBeMadeStopsWhereTheSerialRunStops) {
  // "blocked" is still being written when "blocked/inner.txt" needs it as
  // a folder: the file must be in place first, so the folder fails.
  ItemList items = {{"f/", ""}};
  for (int i = 0; i < 40; ++i) items.push_back({"f/" + std::to_string(i), TextBytes(3000)});
  items.push_back({"blocked", RandomBytes(2'000'000, 3)});
  items.push_back({"blocked/inner.txt", "inner"});
  for (int i = 0; i < 40; ++i) items.push_back({"g/" + std::to_string(i), TextBytes(3000)});
  WriteItemArchive(FTemp, Archive(), items);

  ExtractionResult serial = Extract(1);
  EXPECT_TRUE(serial.FStopped);
  EXPECT_EQ(serial.FExtracted, 42u);
  EXPECT_EQ(serial.FTree.count("blocked"), 1u);
  EXPECT_EQ(serial.FTree.count("g/"), 0u);
  ExpectSameAsSerial(serial);
}

TEST_F(ParallelExtraction, AFailedFileLeavesItsNameFreeForALaterFolder) {
  // The same names, but the file "blocked" fails (its data is damaged), so
  // the later folder can be made and the run goes on.
  ItemList items = {{"f/", ""}, {"g/", ""}};
  for (int i = 0; i < 40; ++i) items.push_back({"f/" + std::to_string(i), TextBytes(3000)});
  items.push_back({"blocked", RandomBytes(2'000'000, 3)});
  items.push_back({"blocked/inner.txt", "inner"});
  for (int i = 0; i < 40; ++i) items.push_back({"g/" + std::to_string(i), TextBytes(3000)});
  items.push_back({"blocked/", ""});
  WriteItemArchive(FTemp, Archive(), items);
  std::string bytes = ReadNative(FTemp.Native("a.zip"));
  std::size_t header = bytes.find("blocked") - archive::LocalHeaderSize;  // the first item of that name
  std::size_t data = header + archive::LocalHeaderSize + 7 + archive::LoadU16(Bytes(bytes, header + 28)) + 12;
  bytes[data + 1'000'000] ^= 0x20;  // inside its stored data
  WriteNative(FTemp.Native("a.zip"), bytes);

  ExtractionResult serial = Extract(1);
  EXPECT_FALSE(serial.FStopped);
  EXPECT_EQ(serial.FExtracted, items.size() - 1);
  EXPECT_EQ(serial.FTree["blocked/inner.txt"], "inner");
  ExpectSameAsSerial(serial);
}

TEST(TargetKeys, NamesWindowsTakesForOneFileShareAKey) {
  EXPECT_EQ(archive::TargetKey("C:\\App\\ReadMe.TXT"), archive::TargetKey("c:\\app\\readme.txt"));
  EXPECT_EQ(archive::TargetKey("C:\\App\\Документ"), archive::TargetKey("C:\\App\\ДОКУМЕНТ"));
  EXPECT_EQ(archive::TargetKey("C:\\App. \\file.txt. "), archive::TargetKey("C:\\App\\file.txt"));
  EXPECT_EQ(archive::TargetKey("C:\\App\\x.volok-part"), archive::TargetKey("C:\\App\\x"));
  EXPECT_EQ(archive::TargetKey("C:\\App\\x.volok-part\\y"), archive::TargetKey("C:\\App\\x\\y"));
  EXPECT_NE(archive::TargetKey("C:\\App\\a.txt"), archive::TargetKey("C:\\App\\b.txt"));
  EXPECT_NE(archive::TargetKey("C:\\App\\a\\b"), archive::TargetKey("C:\\App\\a.b"));
}

}  // namespace
}  // namespace volok::testing
