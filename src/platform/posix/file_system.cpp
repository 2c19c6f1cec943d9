#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/path_map.h"

namespace volok::platform {

namespace {

using posix::ErrnoMessage;

class PosixFile final : public File {
 public:
  PosixFile(int fd, std::string path) : FFd(fd), FPath(std::move(path)) {}
  ~PosixFile() override { ::close(FFd); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  Status Read(void* buffer, std::size_t size, std::size_t& done) override {
    done = 0;
    for (;;) {
      ssize_t n = ::read(FFd, buffer, size);
      if (n >= 0) {
        done = static_cast<std::size_t>(n);
        return Status::Ok();
      }
      if (errno != EINTR) return Status::Failure(ErrnoMessage(errno, FPath));
    }
  }

  Status Write(const void* buffer, std::size_t size) override {
    const char* p = static_cast<const char*>(buffer);
    while (size > 0) {
      ssize_t n = ::write(FFd, p, size);
      if (n < 0) {
        if (errno == EINTR) continue;
        return Status::Failure(ErrnoMessage(errno, FPath));
      }
      p += n;
      size -= static_cast<std::size_t>(n);
    }
    return Status::Ok();
  }

  Status Seek(std::uint64_t offset) override {
    if (::lseek(FFd, static_cast<off_t>(offset), SEEK_SET) < 0)
      return Status::Failure(ErrnoMessage(errno, FPath));
    return Status::Ok();
  }

  Status Size(std::uint64_t& size) override {
    struct stat st;
    if (::fstat(FFd, &st) != 0) return Status::Failure(ErrnoMessage(errno, FPath));
    size = static_cast<std::uint64_t>(st.st_size);
    return Status::Ok();
  }

 private:
  int FFd;
  std::string FPath;
};

class PosixFileSystem final : public FileSystem {
 public:
  Status OpenFile(const std::string& path, FileAccess access, FileShare,
                  std::unique_ptr<File>& file) override {
    std::string native;
    if (!posix::ToNativePath(path, native)) return Status::Failure(posix::UnmappedPathMessage(path));
    int flags = O_CLOEXEC;
    switch (access) {
      case FileAccess::ReadExisting: flags |= O_RDONLY; break;
      case FileAccess::CreateAlways: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
      case FileAccess::AppendOrCreate: flags |= O_WRONLY | O_CREAT | O_APPEND; break;
    }
    int fd = ::open(native.c_str(), flags, 0666);
    if (fd < 0) return Status::Failure(ErrnoMessage(errno, path));
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      // Windows never opens a folder as a file; keep the two platforms alike.
      ::close(fd);
      return Status::Failure(ErrnoMessage(EISDIR, path));
    }
    file = std::make_unique<PosixFile>(fd, path);
    return Status::Ok();
  }
};

}  // namespace

FileSystem& FileSystem::BuiltIn() {
  static PosixFileSystem instance;
  return instance;
}

}  // namespace volok::platform
