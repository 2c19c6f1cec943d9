// A read-only file over bytes in memory that notes every read reaching past
// its end: readers that must stay inside a file are checked with it.
#pragma once

#include <cstring>
#include <string>

#include "platform/file_system.h"

namespace volok::testing {

class MemoryFile final : public platform::File {
 public:
  explicit MemoryFile(std::string bytes) : FBytes(std::move(bytes)) {}
  platform::Status Read(void* buffer, std::size_t size, std::size_t& done) override {
    platform::Status read = ReadAt(FPosition, buffer, size, done);
    FPosition += done;
    return read;
  }
  platform::Status Write(const void*, std::size_t) override { return platform::Status::Failure("read-only"); }
  platform::Status Seek(std::uint64_t offset) override {
    FPosition = offset;
    return platform::Status::Ok();
  }
  platform::Status ReadAt(std::uint64_t offset, void* buffer, std::size_t size, std::size_t& done) override {
    done = 0;
    if (offset > FBytes.size() || FBytes.size() - offset < size) ReadPastEnd = true;
    if (offset >= FBytes.size()) return platform::Status::Ok();
    done = static_cast<std::size_t>(std::min<std::uint64_t>(size, FBytes.size() - offset));
    std::memcpy(buffer, FBytes.data() + offset, done);
    return platform::Status::Ok();
  }
  platform::Status Size(std::uint64_t& size) override {
    size = FBytes.size();
    return platform::Status::Ok();
  }
  platform::Status Truncate() override { return platform::Status::Failure("read-only"); }
  platform::Status Flush() override { return platform::Status::Ok(); }

  bool ReadPastEnd = false;

 private:
  std::string FBytes;
  std::uint64_t FPosition = 0;
};

}  // namespace volok::testing
