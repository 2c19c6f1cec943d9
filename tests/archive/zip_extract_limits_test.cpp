// Items whose data does not match their recorded size: an inflating bomb is
// cut at the recorded size and fails, stored data of the wrong length fails
// before anything is written, and the other items go on.
#include <gtest/gtest.h>

#include <atomic>

#include "archive/zip_extract_pool.h"
#include "zip_extract_support.h"

namespace volok::testing {
namespace {

using platform::Status;

// Counts the bytes written to files created below `Folder`.
class CountingFile final : public platform::FileWrapper {
 public:
  CountingFile(std::unique_ptr<platform::File> inner, std::atomic<std::uint64_t>& written)
      : FileWrapper(std::move(inner)), FWritten(written) {}
  Status Write(const void* buffer, std::size_t size) override {
    FWritten += size;
    return FileWrapper::Write(buffer, size);
  }

 private:
  std::atomic<std::uint64_t>& FWritten;
};

class CountingFileSystem final : public platform::FileSystemWrapper {
 public:
  using FileSystemWrapper::FileSystemWrapper;
  Status OpenFile(const std::string& path, platform::FileAccess access, platform::FileShare share,
                  std::unique_ptr<platform::File>& file) override {
    Status status = FTarget.OpenFile(path, access, share, file);
    if (status.ok() && access == platform::FileAccess::CreateAlways && path.rfind(Folder, 0) == 0)
      file = std::make_unique<CountingFile>(std::move(file), Written);
    return status;
  }
  std::string Folder = "\x01";
  std::atomic<std::uint64_t> Written{0};
};

// Sets the uncompressed size that the central directory records for the
// item `name` (the reader takes sizes from there).
void ForgeRecordedSize(std::string& bytes, const std::string& name, std::uint32_t size) {
  for (std::size_t at = bytes.find("PK\x01\x02"); at != std::string::npos; at = bytes.find("PK\x01\x02", at + 4)) {
    std::size_t length = archive::LoadU16(reinterpret_cast<const std::uint8_t*>(&bytes[at + 28]));
    if (bytes.compare(at + archive::CentralHeaderSize, length, name) != 0) continue;
    for (int i = 0; i < 4; ++i) bytes[at + 24 + i] = static_cast<char>(size >> (8 * i));
    return;
  }
  FAIL() << name << " not in the central directory";
}

class ExtractionLimits : public ::testing::Test {
 protected:
  std::string Archive() const { return FTemp.File("a.zip"); }
  ExtractionResult ExtractCounting(unsigned threads) {
    std::string folder = "out" + std::to_string(threads);
    FFiles.Folder = FTemp.File(folder) + "\\";
    FFiles.Written = 0;
    platform::ScopedDefault<platform::FileSystem> scope(FFiles);
    return ExtractWithThreads(FTemp, Archive(), folder, threads);
  }

  TempFolder FTemp;
  CountingFileSystem FFiles{platform::FileSystem::BuiltIn()};
};

TEST_F(ExtractionLimits, DataBeyondTheRecordedSizeIsNeverWritten) {
  // 16 MiB of zeros deflate to some 16 KiB: recorded as 1000 bytes, they
  // must not reach the disk beyond them.
  const std::string intact = TextBytes(10'000);
  WriteItemArchive(FTemp, Archive(), {{"bomb.bin", std::string(16 << 20, '\0')}, {"intact.txt", intact}});
  std::string bytes = ReadNative(FTemp.Native("a.zip"));
  ForgeRecordedSize(bytes, "bomb.bin", 1000);
  WriteNative(FTemp.Native("a.zip"), bytes);
  for (unsigned threads : {1u, 2u}) {
    ExtractionResult result = ExtractCounting(threads);
    EXPECT_EQ(result.FExtracted, 1u);
    EXPECT_EQ(result.FTree, (Tree{{"intact.txt", intact}}));
    EXPECT_LE(FFiles.Written.load(), 1000u + intact.size());
  }
}

TEST_F(ExtractionLimits, DataShorterOrLongerThanRecordedFailsItsItem) {
  const std::string noise = RandomBytes(20'000, 4);  // stored: deflate cannot shrink it
  const std::string text = TextBytes(20'000);        // deflated
  WriteItemArchive(FTemp, Archive(),
                   {{"long.bin", noise}, {"short.bin", noise}, {"long.txt", text}, {"short.txt", text},
                    {"intact.txt", "intact"}});
  std::string bytes = ReadNative(FTemp.Native("a.zip"));
  ForgeRecordedSize(bytes, "long.bin", 19'999);
  ForgeRecordedSize(bytes, "short.bin", 20'001);
  ForgeRecordedSize(bytes, "long.txt", 19'999);
  ForgeRecordedSize(bytes, "short.txt", 20'001);
  WriteNative(FTemp.Native("a.zip"), bytes);
  std::filesystem::create_directories(FTemp.Native("out1"));
  WriteNative(FTemp.Native("out1/short.txt"), "older copy");
  ExtractionResult result = ExtractCounting(1);
  EXPECT_EQ(result.FExtracted, 1u);
  EXPECT_EQ(result.FTree, (Tree{{"intact.txt", "intact"}, {"short.txt", "older copy"}}));
  // Stored data of the wrong length is refused before a byte is written;
  // deflated data only shows it while inflating, never beyond the limit.
  EXPECT_LE(FFiles.Written.load(), 6u + 20'000);
}

TEST(ExtractPool, JobsRunAtOnceOnEveryWorkerAndFailuresStayInside) {
  archive::ZipExtractPool pool(3);
  ASSERT_TRUE(pool.Parallel());
  ASSERT_EQ(pool.Workers(), 3u);
  // Two jobs that each wait for the other finish only when they run at
  // the same time.
  std::atomic<int> arrived{0};
  std::atomic<bool> met{true};
  for (int i = 0; i < 2; ++i) {
    pool.Submit([&](unsigned) {
      ++arrived;
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (arrived.load() < 2)
        if (std::chrono::steady_clock::now() > deadline) return void(met = false);
    });
  }
  std::atomic<int> done{0};
  std::atomic<bool> worker_in_range{true};
  for (int i = 0; i < 2000; ++i) {
    pool.Submit([&, i](unsigned worker) {
      if (worker >= 3) worker_in_range = false;
      if (i % 100 == 0) throw Error("a failing job");
      ++done;
    });
  }
  pool.Drain();
  EXPECT_TRUE(met);
  EXPECT_TRUE(worker_in_range);
  EXPECT_EQ(done.load(), 1980);
}

TEST(ExtractPool, OneThreadRunsEachJobInsideSubmit) {
  archive::ZipExtractPool pool(1);
  EXPECT_FALSE(pool.Parallel());
  int runs = 0;
  pool.Submit([&](unsigned worker) { runs += worker == 0; });
  EXPECT_EQ(runs, 1);
  pool.Submit([](unsigned) { throw Error("swallowed"); });
}

}  // namespace
}  // namespace volok::testing
