// Packing on several threads: the archive must not depend on the thread
// count or on which items outgrow memory, and a failure must leave nothing
// behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "archive/zip_item_writer.h"
#include "common/error.h"
#include "platform/file_system.h"
#include "zip_test_support.h"
#include "zip_test_tree.h"

namespace volok::testing {
namespace {

namespace fs = std::filesystem;
using platform::FileSystem;

// Everything of an item but its random encryption header and what that
// header scrambles.
using ItemFacts = std::tuple<std::string, std::uint16_t, std::uint16_t, std::uint32_t, std::uint32_t, std::uint64_t,
                             std::uint64_t, std::uint64_t>;

std::vector<ItemFacts> Facts(const std::string& archive) {
  ZipReader reader;
  reader.Open(archive);
  std::vector<ItemFacts> facts;
  for (std::size_t i = 0; i < reader.Count(); ++i) {
    const archive::ZipItemInfo& item = reader.Item(i);
    facts.emplace_back(item.FName, item.FFlags, item.FMethod, item.FDosDateTime, item.FCrc32, item.FCompressedSize,
                       item.FUncompressedSize, item.FLocalHeaderOffset);
  }
  return facts;
}

// Files that leave the 64 KiB item bound behind, compressible and not,
// between many small ones.
Tree MixedTree() {
  Tree tree = SampleTree();
  for (int i = 0; i < 40; ++i) tree["small/" + std::to_string(i) + ".txt"] = TextBytes(100 + 97 * i);
  tree["small/"] = "";
  for (int i = 0; i < 3; ++i) tree["big/text" + std::to_string(i) + ".txt"] = TextBytes(700'000 + i);
  for (int i = 0; i < 3; ++i) tree["big/noise" + std::to_string(i) + ".bin"] = RandomBytes(400'000 + i, 20 + i);
  tree["big/"] = "";
  return tree;
}

std::vector<std::string> TemporaryFiles(const fs::path& folder) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".tmp") found.push_back(entry.path().filename().string());
  }
  return found;
}

class ZipPacking : public ::testing::Test {
 protected:
  void Pack(const std::string& name, unsigned threads, std::size_t item_memory) {
    ZipWriter writer;  // collects the sources in the same order each time
    writer.SetBaseFolder(FTemp.File("src"));
    writer.AddFiles("*.*", ZipWriter::AnyFile);
    std::vector<archive::ZipSource> sources;
    for (std::size_t i = 0; i < writer.Count(); ++i) {
      std::string path = FTemp.File("src\\" + writer.ItemName(i));
      for (char& c : path) c = c == '/' ? '\\' : c;
      bool folder = writer.ItemName(i).back() == '/';
      sources.push_back({path, writer.ItemName(i), folder, 0, 132'000'000'000'000'000});
    }
    std::unique_ptr<platform::File> out;
    ASSERT_TRUE(FileSystem::Default()
                    .OpenFile(FTemp.File(name), platform::FileAccess::CreateAlways, platform::FileShare::None, out)
                    .ok());
    archive::ZipPackOptions options;
    options.FThreads = threads;
    options.FItemMemory = item_memory;
    options.FSpillPrefix = FTemp.File(name);
    archive::WriteZipArchive(*out, sources, ArchivePassword, options);
  }

  TempFolder FTemp;
};

TEST_F(ZipPacking, ThreadCountAndMemoryBoundDoNotChangeTheArchive) {
  Tree tree = MixedTree();
  WriteTree(FTemp.Native("src"), tree);
  Pack("one.zip", 1, 0);
  Pack("many.zip", 4, 64 * 1024);  // big items spill or go straight to the archive
  std::vector<ItemFacts> one = Facts(FTemp.File("one.zip"));
  ASSERT_EQ(one.size(), tree.size());
  EXPECT_EQ(Facts(FTemp.File("many.zip")), one);
  EXPECT_EQ(fs::file_size(FTemp.Native("one.zip")), fs::file_size(FTemp.Native("many.zip")));
  EXPECT_EQ(TemporaryFiles(FTemp.Native("")), std::vector<std::string>());
  for (const char* name : {"one", "many"}) {
    fs::create_directories(FTemp.Native(name));
    EXPECT_EQ(UnpackArchive(FTemp.File(std::string(name) + ".zip"), FTemp.File(name)), tree.size());
    EXPECT_EQ(ReadTree(FTemp.Native(name)), tree) << name;
  }
}

TEST_F(ZipPacking, AFailingItemDeletesTheArchiveAndEveryTemporaryFile) {
  Tree tree;
  // Incompressible items larger than the memory bound of each of three
  // threads, so some are spilled when the missing file stops the run.
  for (int i = 0; i < 8; ++i) tree["n" + std::to_string(i) + ".bin"] = RandomBytes(3'000'000, 40 + i);
  WriteTree(FTemp.Native("src"), tree);
  ZipWriter writer;
  writer.SetBaseFolder(FTemp.File("src"));
  writer.SetPassword(std::string(ArchivePassword));
  writer.SetFileName(FTemp.File("a.zip"));
  writer.SetThreadCount(3);
  writer.AddFiles("*.*", ZipWriter::AnyFile);
  ASSERT_EQ(writer.Count(), 8u);
  std::string missing = writer.ItemName(5);
  fs::remove(FTemp.Native("src/" + missing));
  try {
    writer.Save();
    ADD_FAILURE() << "Save succeeded without " << missing;
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(FTemp.Native("a.zip")));
  EXPECT_EQ(TemporaryFiles(FTemp.Native("")), std::vector<std::string>());
}

// An archive file that takes `FRoom` bytes, then reports a full disk.
class FillingFile final : public platform::File {
 public:
  explicit FillingFile(std::size_t room) : FRoom(room) {}
  platform::Status Read(void*, std::size_t, std::size_t& done) override {
    done = 0;
    return platform::Status::Ok();
  }
  platform::Status Write(const void*, std::size_t size) override {
    if (size > FRoom) return platform::Status::Failure("Диск заполнен");
    FRoom -= size;
    return platform::Status::Ok();
  }
  platform::Status Seek(std::uint64_t) override { return platform::Status::Ok(); }
  platform::Status Size(std::uint64_t& size) override {
    size = 0;
    return platform::Status::Ok();
  }
  platform::Status Truncate() override { return platform::Status::Ok(); }
  platform::Status Flush() override { return platform::Status::Ok(); }

 private:
  std::size_t FRoom;
};

TEST_F(ZipPacking, AFullDiskStopsEveryThreadAndNamesTheCause) {
  std::vector<archive::ZipSource> sources;
  for (int i = 0; i < 12; ++i) {
    std::string name = "n" + std::to_string(i) + ".bin";
    WriteNative(FTemp.Native(name), RandomBytes(300'000, 60 + i));
    sources.push_back({FTemp.File(name), name, false, 0, 0});
  }
  for (std::size_t room : {std::size_t{0}, std::size_t{100}, std::size_t{1'000'000}}) {
    FillingFile file(room);
    archive::ZipPackOptions options;
    options.FThreads = 3;
    options.FItemMemory = 64 * 1024;
    options.FSpillPrefix = FTemp.File("full.zip");
    try {
      archive::WriteZipArchive(file, sources, ArchivePassword, options);
      ADD_FAILURE() << "packed into " << room << " bytes";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("Диск заполнен"), std::string::npos) << e.what();
    }
    EXPECT_EQ(TemporaryFiles(FTemp.Native("")), std::vector<std::string>()) << room;
  }
}

}  // namespace
}  // namespace volok::testing
