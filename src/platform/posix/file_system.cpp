#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/posix/file_helpers.h"
#include "platform/posix/moved_programs.h"
#include "platform/posix/no_follow.h"
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

  Status ReadAt(std::uint64_t offset, void* buffer, std::size_t size, std::size_t& done) override {
    done = 0;
    for (;;) {
      ssize_t n = ::pread(FFd, buffer, size, static_cast<off_t>(offset));
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

  Status Truncate() override {
    off_t position = ::lseek(FFd, 0, SEEK_CUR);
    if (position < 0 || ::ftruncate(FFd, position) != 0) return Status::Failure(ErrnoMessage(errno, FPath));
    return Status::Ok();
  }

  Status Flush() override {
    if (::fsync(FFd) != 0) return Status::Failure(ErrnoMessage(errno, FPath));
    return Status::Ok();
  }

  bool OthersMayChange() override {
    struct stat st;
    if (::fstat(FFd, &st) != 0 || !S_ISREG(st.st_mode)) return true;
    const bool owner_trusted = st.st_uid == 0 || st.st_uid == ::geteuid();
    return !owner_trusted || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  }

 private:
  int FFd;
  std::string FPath;
};

Status Mapped(const std::string& path, std::string& native) {
  if (posix::ToNativePath(path, native)) return Status::Ok();
  return Status::Failure(posix::UnmappedPathMessage(path));
}

Status Errno(const std::string& path) { return Status::Failure(ErrnoMessage(errno, path)); }

// Owns a descriptor for the copy routine's early returns.
class ScopedFd final {
 public:
  explicit ScopedFd(int fd) : FFd(fd) {}
  ~ScopedFd() {
    if (FFd >= 0) ::close(FFd);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return FFd; }

 private:
  int FFd;
};

// Copies the bytes in the kernel where it can (copy_file_range), else
// through a buffer.
bool CopyBytes(int source, int target) {
  for (;;) {
    ssize_t n = ::copy_file_range(source, nullptr, target, nullptr, 1 << 30, 0);
    if (n == 0) return true;
    if (n > 0) continue;
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
    break;
  }
  std::vector<char> buffer(1 << 16);
  for (;;) {
    ssize_t n = ::read(source, buffer.data(), buffer.size());
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t written = ::write(target, buffer.data() + done, static_cast<std::size_t>(n - done));
      if (written < 0 && errno != EINTR) return false;
      if (written > 0) done += written;
    }
  }
}

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
      case FileAccess::AppendNoLink: flags |= O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK; break;
      case FileAccess::ReadNoLink: flags |= O_RDONLY | O_NOFOLLOW | O_NONBLOCK; break;
      case FileAccess::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW; break;
    }
    const bool no_link = access == FileAccess::AppendNoLink || access == FileAccess::ReadNoLink;
    int fd = ::open(native.c_str(), flags, access == FileAccess::CreateNew ? 0600 : 0666);
    if (fd < 0) return Status::Failure(ErrnoMessage(errno, path));
    struct stat st;
    if (no_link && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, flags & O_APPEND) != 0)) {
      // A FIFO or device in place of a log is no log either (opened without
      // waiting for a writer; blocking again once it is known to be a file).
      ::close(fd);
      return Status::Failure(ErrnoMessage(EINVAL, path));
    }
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      // Windows never opens a folder as a file; keep the two platforms alike.
      ::close(fd);
      return Status::Failure(ErrnoMessage(EISDIR, path));
    }
    file = std::make_unique<PosixFile>(fd, path);
    return Status::Ok();
  }

  Status FullPath(const std::string& path, std::string& full) override {
    return posix::WindowsFullPath(path, full);
  }

  Status CanonicalPath(const std::string& path, std::string& canonical) override {
    std::string native;
    if (Status mapped = Mapped(path, native); !mapped.ok()) return mapped;
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(native.c_str(), nullptr), &std::free);
    if (!resolved) return Errno(path);
    canonical = posix::FromNativePath(resolved.get());
    return Status::Ok();
  }

  Status FlushFolder(const std::string& path) override {
    std::string native;
    if (Status mapped = Mapped(path, native); !mapped.ok()) return mapped;
    ScopedFd fd(::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0 || ::fsync(fd.get()) != 0) return Errno(path);
    return Status::Ok();
  }

  Status FlushTree(const std::string& path) override {
    std::string native;
    if (Status mapped = Mapped(path, native); !mapped.ok()) return mapped;
    ScopedFd fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0 || ::syncfs(fd.get()) != 0) return Errno(path);
    return Status::Ok();
  }

  Status LockFile(const std::string& path, std::unique_ptr<File>& lock, bool& busy) override {
    busy = false;
    std::string native;
    if (Status mapped = Mapped(path, native); !mapped.ok()) return mapped;
    int fd = ::open(native.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return Errno(path);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      int error = errno;
      ::close(fd);
      busy = error == EWOULDBLOCK;
      return Status::Failure(ErrnoMessage(error, path));
    }
    lock = std::make_unique<PosixFile>(fd, path);
    return Status::Ok();
  }

  Status RemoveAtRestart(const std::string& path) override {
    return Status::Failure("Удаление при перезагрузке в этой системе недоступно: " + path);
  }

  Status MoveAtRestart(const std::string& source, const std::string& target) override {
    return Status::Failure("Замена при перезагрузке в этой системе недоступна: " + source + " -> " + target);
  }

  Status ObjectId(const std::string& path, std::string& id) override {
    std::string native;
    if (Status mapped = Mapped(path, native); !mapped.ok()) return mapped;
    struct stat st;
    if (::stat(native.c_str(), &st) != 0) return Errno(path);
    id = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    return Status::Ok();
  }

  Status ReadSymbolicLink(const std::string& path, std::string& target) override {
    std::string native;
    if (Status mapped = Mapped(path, native); !mapped.ok()) return mapped;
    char buffer[4096];
    ssize_t length = ::readlink(native.c_str(), buffer, sizeof buffer);
    if (length < 0) return Errno(path);
    if (static_cast<std::size_t>(length) == sizeof buffer) return Status::Failure(ErrnoMessage(ENAMETOOLONG, path));
    target.assign(buffer, static_cast<std::size_t>(length));
    return Status::Ok();
  }

  bool MakesSymbolicLinks() override { return true; }
  Status MakeSymbolicLink(const std::string& link, const std::string& target) override {
    std::string native;
    if (Status mapped = Mapped(link, native); !mapped.ok()) return mapped;
    if (::symlink(target.c_str(), native.c_str()) != 0) return Errno(link);
    return Status::Ok();
  }

  bool FileExists(const std::string& path) override {
    struct stat st;
    std::string native;
    return posix::ToNativePath(path, native) && ::stat(native.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
  }

  bool WritableByOthers(const std::string& path) override {
    struct stat st;
    std::string native;
    if (!posix::ToNativePath(path, native) || ::lstat(native.c_str(), &st) != 0) return true;
    return S_ISLNK(st.st_mode) || (st.st_uid != 0 && st.st_uid != ::geteuid()) || (st.st_mode & 022) != 0;
  }

  FileKind KindOf(const std::string& path) override {
    struct stat st;
    std::string native;
    if (!posix::ToNativePath(path, native) || ::stat(native.c_str(), &st) != 0) return FileKind::Missing;
    if (S_ISREG(st.st_mode)) return FileKind::Regular;
    return S_ISDIR(st.st_mode) ? FileKind::Folder : FileKind::Special;
  }

  bool FolderExists(const std::string& path) override {
    struct stat st;
    std::string native;
    return posix::ToNativePath(path, native) && ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  Status MakeFolder(const std::string& path) override {
    std::string native;
    if (Status mapped = Mapped(path, native); !mapped.ok()) return mapped;
    if (::mkdir(native.c_str(), 0777) != 0) return Errno(path);
    return Status::Ok();
  }

  Status CopyFileOver(const std::string& source, const std::string& target) override {
    std::string native_source;
    if (Status mapped = Mapped(source, native_source); !mapped.ok()) return mapped;
    std::string native_target;
    if (Status mapped = Mapped(target, native_target); !mapped.ok()) return mapped;
    ScopedFd in(::open(native_source.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat from, to;
    if (in.get() < 0 || ::fstat(in.get(), &from) != 0) return Errno(source);
    if (S_ISDIR(from.st_mode)) return Status::Failure(ErrnoMessage(EISDIR, source));
    if (::stat(native_target.c_str(), &to) == 0) {
      // Truncating the target would destroy a source that is the same file;
      // and CopyFileW refuses to overwrite a read-only or hidden file, even
      // for root.
      if (to.st_dev == from.st_dev && to.st_ino == from.st_ino) return Status::Failure(ErrnoMessage(EBUSY, target));
      if (S_ISDIR(to.st_mode)) return Status::Failure(ErrnoMessage(EISDIR, target));
      if ((to.st_mode & S_IWUSR) == 0 || (posix::StoredDosAttributes(native_target) & FileAttribute::Hidden))
        return Status::Failure(ErrnoMessage(EACCES, target));
    }
    ScopedFd out(::open(native_target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (out.get() < 0) return Errno(target);
    if (!CopyBytes(in.get(), out.get())) return Errno(target);
    struct timespec times[2] = {from.st_atim, from.st_mtim};
    if (::fchmod(out.get(), from.st_mode & 07777) != 0 || ::futimens(out.get(), times) != 0) return Errno(target);
    posix::CopyDosAttributes(in.get(), out.get());
    return Status::Ok();
  }

  Status MoveFileReplace(const std::string& source, const std::string& target) override {
    std::string native_source;
    if (Status mapped = Mapped(source, native_source); !mapped.ok()) return mapped;
    std::string native_target;
    if (Status mapped = Mapped(target, native_target); !mapped.ok()) return mapped;
    struct stat from, to;
    if (::lstat(native_source.c_str(), &from) != 0) return Errno(source);
    // MoveFileExW replaces files only; rename() would also replace an empty
    // folder.
    if (::stat(native_target.c_str(), &to) == 0 && S_ISDIR(to.st_mode) &&
        !(to.st_dev == from.st_dev && to.st_ino == from.st_ino))
      return Status::Failure(ErrnoMessage(EEXIST, target));
    if (::rename(native_source.c_str(), native_target.c_str()) != 0) return Errno(target);
    // Only a folder or a program can hold a running executable; data files
    // (most moves) cost no look at the running processes.
    if (S_ISDIR(from.st_mode) || (S_ISREG(from.st_mode) && (from.st_mode & 0111)))
      posix::RememberMovedPrograms(native_source, native_target);
    return Status::Ok();
  }

  Status RemoveFile(const std::string& path) override {
    std::string native;
    if (Status mapped = Mapped(path, native); !mapped.ok()) return mapped;
    struct stat st;
    if (::lstat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return Status::Failure(ErrnoMessage(EISDIR, path));
    if (::unlink(native.c_str()) != 0) return Errno(path);
    return Status::Ok();
  }

  Status MoveEntry(const std::string& source, const std::string& target) override {
    std::string native_source;
    if (Status mapped = Mapped(source, native_source); !mapped.ok()) return mapped;
    std::string native_target;
    if (Status mapped = Mapped(target, native_target); !mapped.ok()) return mapped;
    struct stat from;
    bool program = ::lstat(native_source.c_str(), &from) == 0 &&
                   (S_ISDIR(from.st_mode) || (S_ISREG(from.st_mode) && (from.st_mode & 0111)));
    if (Status moved = posix::RenameNoFollow(native_source, native_target, source, target); !moved.ok()) return moved;
    if (program) posix::RememberMovedPrograms(native_source, native_target);
    return Status::Ok();
  }

  Status MakeNewFolder(const std::string& path) override {
    std::string native;
    if (Status mapped = Mapped(path, native); !mapped.ok()) return mapped;
    return posix::MakeFolderNoFollow(native, path);
  }

  Status RemoveEntry(const std::string& path) override {
    std::string native;
    if (Status mapped = Mapped(path, native); !mapped.ok()) return mapped;
    return posix::RemoveNoFollow(native, path);
  }

  Status RemoveEmptyFolder(const std::string& path) override {
    std::string native;
    if (Status mapped = Mapped(path, native); !mapped.ok()) return mapped;
    if (::rmdir(native.c_str()) != 0) return Errno(path);
    return Status::Ok();
  }

  Status ListFolder(const std::string& path, std::vector<FileEntry>& entries) override {
    std::string native;
    if (Status mapped = Mapped(path, native); !mapped.ok()) return mapped;
    entries.clear();
    DIR* folder = ::opendir(native.c_str());
    if (!folder) return Errno(path);
    while (const dirent* item = ::readdir(folder)) {
      std::string name = item->d_name;
      if (name == "." || name == "..") continue;
      std::string child = native + "/" + name;
      struct stat st;
      // A dangling link is still an entry; it shows as the link itself.
      if (::stat(child.c_str(), &st) != 0 && ::lstat(child.c_str(), &st) != 0) continue;
      FileEntry entry;
      entry.Name = name;
      entry.IsFolder = S_ISDIR(st.st_mode);
      entry.IsSpecial = !entry.IsFolder && !S_ISREG(st.st_mode);
      entry.PosixMode = st.st_mode & (S_IFMT | 0777);
      entry.Attributes = posix::ReadDosAttributes(child, st);
      entry.Size = entry.IsFolder ? 0 : static_cast<std::uint64_t>(st.st_size);
      entry.LastWriteTime = posix::ToFileTime(st.st_mtim);
      struct stat own;
      entry.IsLink = ::lstat(child.c_str(), &own) == 0 && S_ISLNK(own.st_mode);
      entries.push_back(std::move(entry));
    }
    ::closedir(folder);
    return Status::Ok();
  }

  Status GetAttributes(const std::string& path, std::uint32_t& attributes) override {
    std::string native;
    if (Status mapped = Mapped(path, native); !mapped.ok()) return mapped;
    struct stat st;
    if (::stat(native.c_str(), &st) != 0) return Errno(path);
    attributes = posix::ReadDosAttributes(native, st);
    return Status::Ok();
  }

  Status SetAttributes(const std::string& path, std::uint32_t attributes) override {
    std::string native;
    if (Status mapped = Mapped(path, native); !mapped.ok()) return mapped;
    return posix::WriteDosAttributes(native, path, attributes);
  }

  Status SetExecuteBits(const std::string& path, std::uint32_t posix_mode) override {
    std::string native;
    if (Status mapped = Mapped(path, native); !mapped.ok()) return mapped;
    struct stat st;
    if (::stat(native.c_str(), &st) != 0) return Errno(path);
    mode_t readable = (st.st_mode & 0444) >> 2;  // the classes that may read it
    mode_t mode = (st.st_mode & 07777 & ~0111) | (posix_mode & 0111 & readable);
    if (mode != (st.st_mode & 07777) && ::chmod(native.c_str(), mode) != 0) return Errno(path);
    return Status::Ok();
  }

  Status GetLastWriteTime(const std::string& path, FileTime& time) override {
    std::string native;
    if (Status mapped = Mapped(path, native); !mapped.ok()) return mapped;
    struct stat st;
    if (::stat(native.c_str(), &st) != 0) return Errno(path);
    time = posix::ToFileTime(st.st_mtim);
    return Status::Ok();
  }

  Status SetLastWriteTime(const std::string& path, FileTime time) override {
    std::string native;
    if (Status mapped = Mapped(path, native); !mapped.ok()) return mapped;
    struct timespec times[2] = {{0, UTIME_OMIT}, posix::FromFileTime(time)};
    if (::utimensat(AT_FDCWD, native.c_str(), times, 0) != 0) return Errno(path);
    return Status::Ok();
  }

  Status TempFolderPath(std::string& path) override {
    const char* variable = std::getenv("TMPDIR");
    std::string native = variable && variable[0] ? variable : "/tmp";
    while (native.size() > 1 && native.back() == '/') native.pop_back();
    path = posix::FromNativePath(native);
    if (path.back() != '\\') path += '\\';
    return Status::Ok();
  }

  Status ShellDelete(const std::string& path, bool permanent) override {
    std::string native;
    if (Status mapped = Mapped(path, native); !mapped.ok()) return mapped;
    return permanent ? posix::RemoveTreeNoFollow(native, path) : posix::MoveToTrash(native, path);
  }
};


}  // namespace

FileSystem& FileSystem::BuiltIn() {
  static PosixFileSystem instance;
  return instance;
}

}  // namespace volok::platform
