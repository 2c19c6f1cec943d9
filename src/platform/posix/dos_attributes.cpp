#include <sys/xattr.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/posix/file_helpers.h"
#include "platform/posix/path_map.h"

namespace volok::platform::posix {

namespace {

// Wine and Samba keep the DOS bits that POSIX has no place for in this
// extended attribute, as the text "0x<hex>"; sharing it lets both see ours.
constexpr const char* kDosAttributeName = "user.DOSATTRIB";
constexpr std::uint32_t kStoredBits = FileAttribute::Hidden | FileAttribute::System;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600LL;
constexpr std::int64_t kTicksPerSecond = 10000000;

std::uint32_t ParseStoredBits(const char* text, ssize_t size) {
  if (size <= 0) return 0;
  std::string value(text, static_cast<std::size_t>(size));
  return static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 0)) & kStoredBits;
}

bool NoAttributeSupport(int error) { return error == ENOTSUP || error == ENODATA; }

std::string BaseName(const std::string& native) {
  std::size_t end = native.find_last_not_of('/');
  if (end == std::string::npos) return {};
  std::size_t slash = native.rfind('/', end);
  return native.substr(slash == std::string::npos ? 0 : slash + 1, end - (slash == std::string::npos ? 0 : slash + 1) + 1);
}

}  // namespace

std::uint32_t ReadDosAttributes(const std::string& native, const struct stat& st) {
  std::uint32_t attributes = S_ISDIR(st.st_mode) ? FileAttribute::Directory : FileAttribute::Archive;
  if ((st.st_mode & S_IWUSR) == 0) attributes |= FileAttribute::ReadOnly;
  std::string name = BaseName(native);
  if (name.size() > 1 && name[0] == '.' && name != "..") attributes |= FileAttribute::Hidden;
  return attributes | StoredDosAttributes(native);
}

std::uint32_t StoredDosAttributes(const std::string& native) {
  char stored[32];
  ssize_t size = ::getxattr(native.c_str(), kDosAttributeName, stored, sizeof stored);
  return ParseStoredBits(stored, size);
}

Status WriteDosAttributes(const std::string& native, const std::string& shown, std::uint32_t attributes) {
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return Status::Failure(ErrnoMessage(errno, shown));
  mode_t mode = st.st_mode & 07777;
  // Read-only takes every write bit away; clearing it gives the owner's back
  // (the group's and others' stay as the umask left them).
  mode = attributes & FileAttribute::ReadOnly ? mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) : mode | S_IWUSR;
  if (mode != (st.st_mode & 07777) && ::chmod(native.c_str(), mode) != 0)
    return Status::Failure(ErrnoMessage(errno, shown));
  std::uint32_t stored = attributes & kStoredBits;
  if (stored == 0) {
    if (::removexattr(native.c_str(), kDosAttributeName) != 0 && !NoAttributeSupport(errno))
      return Status::Failure(ErrnoMessage(errno, shown));
    return Status::Ok();
  }
  char text[16];
  int length = std::snprintf(text, sizeof text, "0x%x", stored);
  if (::setxattr(native.c_str(), kDosAttributeName, text, static_cast<std::size_t>(length), 0) != 0)
    return Status::Failure(ErrnoMessage(errno, shown));
  return Status::Ok();
}

void CopyDosAttributes(int source_fd, int target_fd) {
  char stored[32];
  ssize_t size = ::fgetxattr(source_fd, kDosAttributeName, stored, sizeof stored);
  if (size > 0)
    (void)::fsetxattr(target_fd, kDosAttributeName, stored, static_cast<std::size_t>(size), 0);
  else
    (void)::fremovexattr(target_fd, kDosAttributeName);
}

FileTime ToFileTime(const struct timespec& time) {
  std::int64_t ticks = (static_cast<std::int64_t>(time.tv_sec) + kSecondsFrom1601To1970) * kTicksPerSecond +
                       time.tv_nsec / 100;
  return ticks < 0 ? 0 : static_cast<FileTime>(ticks);
}

struct timespec FromFileTime(FileTime time) {
  std::int64_t ticks = static_cast<std::int64_t>(time);
  struct timespec result {};
  result.tv_sec = static_cast<time_t>(ticks / kTicksPerSecond - kSecondsFrom1601To1970);
  result.tv_nsec = static_cast<long>(ticks % kTicksPerSecond) * 100;
  return result;
}

}  // namespace volok::platform::posix
