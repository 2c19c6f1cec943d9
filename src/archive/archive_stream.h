// Buffered, position-tracking access to an archive file. Every failure of
// the file throws Error with the system's message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace volok::archive {

// Sequential writing with the possibility to go back to an earlier position
// and write again from there (an item that did not shrink is rewritten
// stored).
class ArchiveOutput final {
 public:
  explicit ArchiveOutput(platform::File& file);
  ArchiveOutput(const ArchiveOutput&) = delete;
  ArchiveOutput& operator=(const ArchiveOutput&) = delete;

  void Write(const void* data, std::size_t size);
  void Write(std::string_view bytes) { Write(bytes.data(), bytes.size()); }
  std::uint64_t Position() const { return FFlushed + FBuffer.size(); }
  // Continues writing at `position` (not after the current one).
  void Rewind(std::uint64_t position);
  // Writes what is buffered and cuts off anything a rewound write left
  // beyond the current position.
  void Finish();

 private:
  void Flush();

  platform::File& FFile;
  std::vector<std::uint8_t> FBuffer;
  std::uint64_t FFlushed = 0;    // file position of FBuffer's first byte
  std::uint64_t FHighWater = 0;  // the file's size so far
};

// Exact reads at given offsets.
void ReadExactly(platform::File& file, std::uint64_t offset, void* buffer, std::size_t size);
// Reads up to `size` bytes at the current position; fewer only at the end.
std::size_t ReadSome(platform::File& file, void* buffer, std::size_t size);
// Reads up to `size` bytes at `offset` without the current position, so
// several threads may read one file at once; fewer only at the end.
std::size_t ReadSomeAt(platform::File& file, std::uint64_t offset, void* buffer, std::size_t size);

}  // namespace volok::archive
