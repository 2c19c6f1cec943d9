// The builder's CopyFile: size and checksum of the source with the copy made
// beside them, and which failure wins when both the read and the copy fail.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "builder_fixture.h"
#include "common/crc32.h"
#include "common/error.h"
#include "platform/file_system.h"

namespace volok {
namespace {

// A source that opens but cannot be read (the checksum pass), and
// optionally a copy that is refused too, while everything else works.
class UnreadableSource final : public platform::FileSystemWrapper {
 public:
  UnreadableSource() : FileSystemWrapper(platform::FileSystem::BuiltIn()) {}
  platform::Status OpenFile(const std::string& path, platform::FileAccess access, platform::FileShare share,
                            std::unique_ptr<platform::File>& file) override {
    platform::Status opened = FileSystemWrapper::OpenFile(path, access, share, file);
    if (opened.ok() && access == platform::FileAccess::ReadExisting) file = std::make_unique<FailingRead>();
    return opened;
  }
  platform::Status CopyFileOver(const std::string& source, const std::string& target) override {
    if (FailCopy) return platform::Status::Failure("copy refused");
    return FileSystemWrapper::CopyFileOver(source, target);
  }
  bool FailCopy = false;

 private:
  class FailingRead final : public platform::File {
   public:
    platform::Status Read(void*, std::size_t, std::size_t&) override { return platform::Status::Failure("bad"); }
    platform::Status Write(const void*, std::size_t) override { return platform::Status::Ok(); }
    platform::Status Seek(std::uint64_t) override { return platform::Status::Ok(); }
    platform::Status Size(std::uint64_t& size) override {
      size = 4 << 20;  // large enough for the copy to run beside the read
      return platform::Status::Ok();
    }
    platform::Status Truncate() override { return platform::Status::Ok(); }
    platform::Status Flush() override { return platform::Status::Ok(); }
  };
};

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7919 + i / 4099) & 0xFF);
  return bytes;
}

TEST_F(BuilderTest, CopyRecordsTheSourcesSizeAndChecksumAndLeavesAnIdenticalCopy) {
  std::string bytes = Pattern(3 * (1 << 20) + 5);
  testing::WriteNative(FWork.Native("big.bin"), bytes);
  std::uint32_t size = 1, crc = 1, expected = 0;
  FBuilder.CopyFile(FWork.File("big.bin"), FWork.File("copy.bin"), size, crc);
  ASSERT_TRUE(FileCrc32(FWork.File("big.bin"), expected));
  EXPECT_EQ(size, bytes.size());
  EXPECT_EQ(crc, expected);
  EXPECT_EQ(testing::ReadNative(FWork.Native("copy.bin")), bytes);
}

TEST_F(BuilderTest, AnUnreadableSourceFailsWithTheReadMessageWhateverTheCopyDid) {
  testing::WriteNative(FWork.Native("src.bin"), "payload");
  UnreadableSource faults;
  platform::ScopedDefault<platform::FileSystem> installed(faults);
  std::uint32_t size = 0, crc = 0;
  const std::string read_message = "Не удалось прочитать исходный файл: " + FWork.File("src.bin") + ".";
  for (bool fail_copy : {false, true}) {
    faults.FailCopy = fail_copy;
    try {
      FBuilder.CopyFile(FWork.File("src.bin"), FWork.File("out.bin"), size, crc);
      ADD_FAILURE() << "no failure, copy refused: " << fail_copy;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), read_message) << fail_copy;
    }
  }
}

}  // namespace
}  // namespace volok
