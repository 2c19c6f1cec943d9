// CRC-32 values, the block reading and the failure answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "platform/file_system.h"
#include "temp_folder.h"

namespace volok {
namespace {

using platform::File;
using platform::Status;
using testing::TempFolder;
using testing::WriteNative;

std::uint32_t OnePiece(const std::string& bytes) {
  std::uint32_t value = 0xFFFFFFFFu;
  Crc32Update(bytes.data(), static_cast<std::uint32_t>(bytes.size()), value);
  return value ^ 0xFFFFFFFFu;
}

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
  return bytes;
}

// A stream over memory that serves at most `FChunk` bytes per read and can
// fail the read that would pass `FFailAt`.
class MemoryFile final : public File {
 public:
  MemoryFile(std::string bytes, std::size_t chunk) : FBytes(std::move(bytes)), FChunk(chunk) {}
  Status Read(void* buffer, std::size_t size, std::size_t& done) override {
    done = std::min({size, FChunk, FBytes.size() - FPos});
    if (FPos + done > FFailAt) return Status::Failure("read error");
    std::copy_n(FBytes.data() + FPos, done, static_cast<char*>(buffer));
    FPos += done;
    return Status::Ok();
  }
  Status Write(const void*, std::size_t) override { return Status::Failure("read-only"); }
  Status Seek(std::uint64_t offset) override {
    FPos = static_cast<std::size_t>(offset);
    return Status::Ok();
  }
  Status Size(std::uint64_t& size) override {
    size = FBytes.size();
    return Status::Ok();
  }
  Status Truncate() override { return Status::Failure("read-only"); }
  Status Flush() override { return Status::Ok(); }
  std::string FBytes;
  std::size_t FChunk, FPos = 0, FFailAt = std::string::npos;
};

TEST(Crc32Test, StandardCheckValues) {
  EXPECT_EQ(OnePiece("123456789"), 0xCBF43926u);
  EXPECT_EQ(OnePiece("abc"), 0x352441C2u);
  EXPECT_EQ(OnePiece(""), 0u);
  std::uint32_t value = 0x12345678u;
  Crc32Update("x", 0, value);
  EXPECT_EQ(value, 0x12345678u);
  Crc32Update(nullptr, 0, value);
  EXPECT_EQ(value, 0x12345678u);
  // Feeding in pieces is the same as feeding at once.
  value = 0xFFFFFFFFu;
  Crc32Update("1234", 4, value);
  Crc32Update("56789", 5, value);
  EXPECT_EQ(value ^ 0xFFFFFFFFu, 0xCBF43926u);
}

// The running value, one bit at a time: slow, but shares nothing with the
// folding or with zlib.
std::uint32_t BitwiseUpdate(const unsigned char* data, std::size_t size, std::uint32_t value) {
  for (std::size_t i = 0; i < size; ++i) {
    value ^= data[i];
    for (int bit = 0; bit < 8; ++bit) value = value & 1 ? (value >> 1) ^ 0xEDB88320u : value >> 1;
  }
  return value;
}

// The fast path folds 64 and 16 bytes at a time and finishes the rest
// otherwise: every length around those steps, at every alignment, from
// running values that are not the initial one.
TEST(Crc32Test, EveryLengthAndAlignmentMatchesTheBitwiseValue) {
  std::string bytes = Pattern(4096 + 64);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(bytes[i] ^ (i * 2654435761u >> 13));
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::vector<std::size_t> sizes;
  for (std::size_t size = 0; size <= 300; ++size) sizes.push_back(size);
  for (std::size_t size : {1023, 1024, 1025, 4095, 4096}) sizes.push_back(size);
  int mismatches = 0;
  for (std::size_t offset = 0; offset < 16; ++offset)
    for (std::size_t size : sizes) {
      const std::uint32_t start = 0xFFFFFFFFu ^ static_cast<std::uint32_t>(size * 0x9E3779B9u + offset);
      std::uint32_t value = start;
      Crc32Update(data + offset, static_cast<std::uint32_t>(size), value);
      if (value != BitwiseUpdate(data + offset, size, start) && ++mismatches <= 5)
        ADD_FAILURE() << "offset " << offset << ", size " << size;
    }
  EXPECT_EQ(mismatches, 0);
}

TEST(Crc32Test, FilesAroundTheBlockSizeMatchTheOnePieceValue) {
  TempFolder temp;
  constexpr std::size_t block = 1 << 20;
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{65536}, block - 1, block, block + 1,
                           3 * block + 17}) {
    std::string bytes = Pattern(size);
    WriteNative(temp.Native("f"), bytes);
    std::uint32_t result = 1;
    EXPECT_TRUE(FileCrc32(temp.File("f"), result)) << size;
    EXPECT_EQ(result, OnePiece(bytes)) << size;
  }
}

TEST(Crc32Test, MissingFileGivesFalseAndZero) {
  TempFolder temp;
  std::uint32_t result = 123;
  EXPECT_FALSE(FileCrc32(temp.File("missing"), result));
  EXPECT_EQ(result, 0u);
}

TEST(Crc32Test, AFileOpenForWritingElsewhereCanBeChecked) {
  TempFolder temp;
  std::unique_ptr<File> writer;
  ASSERT_TRUE(platform::FileSystem::Default()
                  .OpenFile(temp.File("f"), platform::FileAccess::CreateAlways, platform::FileShare::ReadWrite, writer)
                  .ok());
  ASSERT_TRUE(writer->Write("123456789", 9).ok());
  std::uint32_t result = 0;
  EXPECT_TRUE(FileCrc32(temp.File("f"), result));
  EXPECT_EQ(result, 0xCBF43926u);
}

TEST(Crc32Test, StreamsStartAtTheirFirstByteAndSurviveShortReads) {
  std::string bytes = Pattern(200000);
  MemoryFile stream(bytes, 1000);
  stream.FPos = 5000;
  std::uint32_t result = 0;
  EXPECT_TRUE(StreamCrc32(stream, result));
  EXPECT_EQ(result, OnePiece(bytes));
}

TEST(Crc32Test, AReadErrorInTheMiddleGivesFalse) {
  MemoryFile stream(Pattern(200000), 65536);
  stream.FFailAt = 100000;
  std::uint32_t result = 0;
  EXPECT_FALSE(StreamCrc32(stream, result));
}

}  // namespace
}  // namespace volok
