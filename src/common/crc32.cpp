#include "common/crc32.h"

#include <zlib.h>

#include <memory>

#include "platform/file_system.h"

namespace volok {

namespace {

// Large reads: with zlib's table-free crc32() the per-read system call, not
// the checksum, is what a 64 KiB block spends its time on. Memory stays one
// buffer whatever the file's size.
constexpr std::size_t kBlockSize = 1 << 20;

}  // namespace

void Crc32Update(const void* buffer, std::uint32_t size, std::uint32_t& value) {
  // zlib answers its initial value for a null buffer, whatever it was given.
  if (size == 0) return;
  // zlib's crc32() starts from and ends with an inverted value; the running
  // value here is kept un-inverted, so invert on the way in and out.
  value = static_cast<std::uint32_t>(
              crc32(value ^ 0xFFFFFFFFu, static_cast<const Bytef*>(buffer), static_cast<uInt>(size))) ^
          0xFFFFFFFFu;
}

bool StreamCrc32(platform::File& stream, std::uint32_t& result) {
  result = 0xFFFFFFFFu;
  bool outcome = stream.Seek(0).ok();
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kBlockSize]);
  // The stream ends where a read answers 0 bytes, not at the first short
  // read: a stream that delivers less than asked still gets its whole sum.
  std::size_t done = 0;
  while (outcome && (outcome = stream.Read(buffer.get(), kBlockSize, done).ok()) && done > 0)
    Crc32Update(buffer.get(), static_cast<std::uint32_t>(done), result);
  result ^= 0xFFFFFFFFu;
  return outcome;
}

bool FileCrc32(const std::string& file_name, std::uint32_t& result) {
  result = 0;
  std::unique_ptr<platform::File> file;
  if (!platform::FileSystem::Default()
           .OpenFile(file_name, platform::FileAccess::ReadExisting, platform::FileShare::ReadWrite, file)
           .ok())
    return false;
  return StreamCrc32(*file, result);
}

}  // namespace volok
