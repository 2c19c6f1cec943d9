// A read-only view of `size` bytes at `offset` of a file someone else owns
// and keeps open for longer than the view: a package file attached to the
// engine's own file, read as if it were a file of its own. No read reaches
// outside the view, whatever offset or size is asked for; it never writes.
#pragma once

#include <cstdint>

#include "platform/file_system.h"

namespace volok::platform {

class FileSlice final : public File {
 public:
  FileSlice(File& target, std::uint64_t offset, std::uint64_t size)
      : FTarget(target), FOffset(offset), FSize(size) {}
  Status Read(void* buffer, std::size_t size, std::size_t& done) override;
  Status Write(const void* buffer, std::size_t size) override;
  Status Seek(std::uint64_t offset) override;
  Status ReadAt(std::uint64_t offset, void* buffer, std::size_t size, std::size_t& done) override;
  Status Size(std::uint64_t& size) override;
  Status Truncate() override;
  Status Flush() override;
  bool OthersMayChange() override { return FTarget.OthersMayChange(); }

 private:
  File& FTarget;
  const std::uint64_t FOffset, FSize;
  std::uint64_t FPosition = 0;
};

}  // namespace volok::platform
