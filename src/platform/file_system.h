// File-system service. Paths are Windows paths (backslash, drive letters) in
// UTF-8; the POSIX implementation maps them as Wine does (drive Z: is "/").
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/default_slot.h"
#include "platform/status.h"

namespace volok::platform {

// How an open file is created or found.
enum class FileAccess {
  ReadExisting,   // open an existing file for reading
  CreateAlways,   // create, or truncate an existing file, for writing
  AppendOrCreate, // open for writing at the end, creating a missing file
};

// What other openers may do while the file is open (Windows share modes;
// POSIX has no mandatory sharing and ignores it).
enum class FileShare {
  None,
  Read,
  ReadWrite,
};

// An open file. Not thread-safe; one user at a time. Closed on destruction.
class File {
 public:
  virtual ~File() = default;
  // Reads up to `size` bytes at the current position; `done` is the number
  // read, 0 at the end of the file.
  virtual Status Read(void* buffer, std::size_t size, std::size_t& done) = 0;
  // Writes all `size` bytes or fails.
  virtual Status Write(const void* buffer, std::size_t size) = 0;
  virtual Status Seek(std::uint64_t offset) = 0;
  virtual Status Size(std::uint64_t& size) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  static FileSystem& Default() { return DefaultSlot<FileSystem>::Get(); }
  static FileSystem& BuiltIn();

  virtual Status OpenFile(const std::string& path, FileAccess access, FileShare share,
                          std::unique_ptr<File>& file) = 0;
};

// Forwards every call to another file system; fault injectors override the
// calls they need.
class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(FileSystem& target) : FTarget(target) {}
  Status OpenFile(const std::string& path, FileAccess access, FileShare share,
                  std::unique_ptr<File>& file) override {
    return FTarget.OpenFile(path, access, share, file);
  }

 protected:
  FileSystem& FTarget;
};

}  // namespace volok::platform
