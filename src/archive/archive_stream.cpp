#include "archive/archive_stream.h"

#include "common/error.h"

namespace volok::archive {

namespace {

constexpr std::size_t OutputBufferSize = 256 * 1024;

}  // namespace

ArchiveOutput::ArchiveOutput(platform::File& file) : FFile(file) { FBuffer.reserve(OutputBufferSize); }

void ArchiveOutput::Write(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (FBuffer.size() + size > OutputBufferSize) Flush();
  if (size >= OutputBufferSize) {
    ThrowIfFailed(FFile.Write(bytes, size));
    FFlushed += size;
    if (FFlushed > FHighWater) FHighWater = FFlushed;
    return;
  }
  FBuffer.insert(FBuffer.end(), bytes, bytes + size);
}

void ArchiveOutput::Flush() {
  if (FBuffer.empty()) return;
  ThrowIfFailed(FFile.Write(FBuffer.data(), FBuffer.size()));
  FFlushed += FBuffer.size();
  FBuffer.clear();
  if (FFlushed > FHighWater) FHighWater = FFlushed;
}

void ArchiveOutput::Rewind(std::uint64_t position) {
  Flush();
  ThrowIfFailed(FFile.Seek(position));
  FFlushed = position;
}

void ArchiveOutput::Finish() {
  Flush();
  if (FHighWater > FFlushed) ThrowIfFailed(FFile.Truncate());
  FHighWater = FFlushed;
}

void ReadExactly(platform::File& file, std::uint64_t offset, void* buffer, std::size_t size) {
  ThrowIfFailed(file.Seek(offset));
  if (ReadSome(file, buffer, size) != size) throw Error("Архив повреждён: неожиданный конец файла");
}

std::size_t ReadSome(platform::File& file, void* buffer, std::size_t size) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  std::size_t total = 0;
  while (total < size) {
    std::size_t done = 0;
    ThrowIfFailed(file.Read(bytes + total, size - total, done));
    if (done == 0) break;
    total += done;
  }
  return total;
}

std::size_t ReadSomeAt(platform::File& file, std::uint64_t offset, void* buffer, std::size_t size) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  std::size_t total = 0;
  while (total < size) {
    std::size_t done = 0;
    ThrowIfFailed(file.ReadAt(offset + total, bytes + total, size - total, done));
    if (done == 0) break;
    total += done;
  }
  return total;
}

}  // namespace volok::archive
