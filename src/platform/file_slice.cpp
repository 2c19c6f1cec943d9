#include "platform/file_slice.h"

#include <algorithm>

namespace volok::platform {

Status FileSlice::Read(void* buffer, std::size_t size, std::size_t& done) {
  Status read = ReadAt(FPosition, buffer, size, done);
  if (read.ok()) FPosition += done;
  return read;
}

Status FileSlice::Write(const void*, std::size_t) { return Status::Failure("Файл открыт только для чтения"); }

Status FileSlice::Seek(std::uint64_t offset) {
  FPosition = offset;
  return Status::Ok();
}

Status FileSlice::ReadAt(std::uint64_t offset, void* buffer, std::size_t size, std::size_t& done) {
  done = 0;
  if (offset >= FSize) return Status::Ok();
  const std::uint64_t left = std::min<std::uint64_t>(size, FSize - offset);
  // The target may answer short: the view says so as any file would.
  return FTarget.ReadAt(FOffset + offset, buffer, static_cast<std::size_t>(left), done);
}

Status FileSlice::Size(std::uint64_t& size) {
  size = FSize;
  return Status::Ok();
}

Status FileSlice::Truncate() { return Status::Failure("Файл открыт только для чтения"); }

Status FileSlice::Flush() { return Status::Ok(); }

}  // namespace volok::platform
