#include "platform/posix/no_follow.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/posix/path_map.h"

namespace volok::platform::posix {

FolderFd::~FolderFd() {
  if (FFd >= 0) ::close(FFd);
}

FolderFd& FolderFd::operator=(FolderFd&& other) noexcept {
  if (this != &other) {
    if (FFd >= 0) ::close(FFd);
    FFd = other.FFd;
    other.FFd = -1;
  }
  return *this;
}

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

Status Failed(int error, const std::string& shown) { return Status::Failure(ErrnoMessage(error, shown)); }

std::vector<std::string> Segments(const std::string& native) {
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start <= native.size()) {
    std::size_t slash = native.find('/', start);
    if (slash == std::string::npos) slash = native.size();
    std::string segment = native.substr(start, slash - start);
    if (!segment.empty() && segment != ".") segments.push_back(segment);
    start = slash + 1;
  }
  return segments;
}

// Names an entry of `folder` as itself: the folder's own entries only.
Status RemoveBelow(int parent, const std::string& name, const std::string& shown) {
  struct stat st;
  if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Failed(errno, shown);
  if (!S_ISDIR(st.st_mode)) {
    if (::unlinkat(parent, name.c_str(), 0) != 0) return Failed(errno, shown);
    return Status::Ok();
  }
  int fd = ::openat(parent, name.c_str(), kFolderFlags);
  if (fd < 0) return Failed(errno, shown);
  DIR* folder = ::fdopendir(fd);
  if (!folder) {
    int error = errno;
    ::close(fd);
    return Failed(error, shown);
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(folder)) {
    std::string child = entry->d_name;
    if (child != "." && child != "..") names.push_back(child);
  }
  Status first = Status::Ok();
  for (const std::string& child : names) {
    Status status = RemoveBelow(::dirfd(folder), child, shown + "\\" + child);
    if (!status.ok()) {
      first = status;
      break;
    }
  }
  ::closedir(folder);
  if (!first.ok()) return first;
  if (::unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0) return Failed(errno, shown);
  return Status::Ok();
}

}  // namespace

Status OpenParentNoFollow(const std::string& native, const std::string& shown, FolderFd& parent, std::string& leaf) {
  std::vector<std::string> segments = Segments(native);
  if (native.empty() || native[0] != '/' || segments.empty()) return Failed(EINVAL, shown);
  FolderFd current(::open("/", kFolderFlags));
  if (!current.valid()) return Failed(errno, shown);
  for (std::size_t i = 0; i + 1 < segments.size(); ++i) {
    // ".." would climb out of a folder reached without links into one that
    // was never checked.
    if (segments[i] == "..") return Failed(EINVAL, shown);
    FolderFd next(::openat(current.get(), segments[i].c_str(), kFolderFlags));
    if (!next.valid()) return Failed(errno, shown);
    current = std::move(next);
  }
  leaf = segments.back();
  if (leaf == "..") return Failed(EINVAL, shown);
  parent = std::move(current);
  return Status::Ok();
}

Status RenameNoFollow(const std::string& source, const std::string& target, const std::string& shown_source,
                      const std::string& shown_target) {
  FolderFd from, to;
  std::string from_leaf, to_leaf;
  if (Status s = OpenParentNoFollow(source, shown_source, from, from_leaf); !s.ok()) return s;
  if (Status s = OpenParentNoFollow(target, shown_target, to, to_leaf); !s.ok()) return s;
  struct stat moved, existing;
  if (::fstatat(from.get(), from_leaf.c_str(), &moved, AT_SYMLINK_NOFOLLOW) != 0) return Failed(errno, shown_source);
  // MoveFileExW replaces files only; renameat() would also replace an
  // empty folder.
  if (::fstatat(to.get(), to_leaf.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(existing.st_mode) &&
      !(existing.st_dev == moved.st_dev && existing.st_ino == moved.st_ino))
    return Failed(EEXIST, shown_target);
  if (::renameat(from.get(), from_leaf.c_str(), to.get(), to_leaf.c_str()) != 0) return Failed(errno, shown_target);
  return Status::Ok();
}

Status MakeFolderNoFollow(const std::string& native, const std::string& shown) {
  FolderFd parent;
  std::string leaf;
  if (Status s = OpenParentNoFollow(native, shown, parent, leaf); !s.ok()) return s;
  if (::mkdirat(parent.get(), leaf.c_str(), 0777) != 0) return Failed(errno, shown);
  return Status::Ok();
}

Status RemoveNoFollow(const std::string& native, const std::string& shown) {
  FolderFd parent;
  std::string leaf;
  if (Status s = OpenParentNoFollow(native, shown, parent, leaf); !s.ok()) return s;
  struct stat st;
  if (::fstatat(parent.get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Failed(errno, shown);
  if (::unlinkat(parent.get(), leaf.c_str(), S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0) != 0) return Failed(errno, shown);
  return Status::Ok();
}

Status RemoveTreeNoFollow(const std::string& native, const std::string& shown) {
  FolderFd parent;
  std::string leaf;
  if (Status s = OpenParentNoFollow(native, shown, parent, leaf); !s.ok()) return s;
  return RemoveBelow(parent.get(), leaf, shown);
}

}  // namespace volok::platform::posix
