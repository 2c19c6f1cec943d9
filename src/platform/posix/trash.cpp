#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>
#include <vector>

#include "platform/posix/file_helpers.h"
#include "platform/posix/no_follow.h"
#include "platform/posix/path_map.h"

namespace volok::platform::posix {

namespace {

std::string Parent(const std::string& native) {
  std::size_t slash = native.find_last_of('/');
  return slash == 0 || slash == std::string::npos ? "/" : native.substr(0, slash);
}

std::string BaseName(const std::string& native) { return native.substr(native.find_last_of('/') + 1); }

bool MakeFolders(const std::string& native, mode_t mode) {
  if (::mkdir(native.c_str(), mode) == 0 || errno == EEXIST) return true;
  if (errno != ENOENT || native == "/") return false;
  return MakeFolders(Parent(native), mode) && (::mkdir(native.c_str(), mode) == 0 || errno == EEXIST);
}

std::string HomeTrash() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && data[0] == '/') return std::string(data) + "/Trash";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.local/share/Trash";
}

// The mount point holding `native`: the outermost folder on its device.
std::string TopFolder(const std::string& native, dev_t device) {
  std::string folder = Parent(native);
  struct stat st;
  while (folder != "/") {
    std::string up = Parent(folder);
    if (::stat(up.c_str(), &st) != 0 || st.st_dev != device) break;
    folder = up;
  }
  return folder;
}

// The trash on the same device as the item, so the move is a rename: the
// home trash when it shares the device, else $topdir/.Trash-$uid. `shown`
// is the Path recorded in .trashinfo (relative to $topdir for the latter).
bool ChooseTrash(const std::string& native, dev_t device, std::string& trash, std::string& shown) {
  trash = HomeTrash();
  struct stat st;
  if (MakeFolders(trash + "/files", 0700) && MakeFolders(trash + "/info", 0700) &&
      ::stat(trash.c_str(), &st) == 0 && st.st_dev == device) {
    shown = native;
    return true;
  }
  std::string top = TopFolder(native, device);
  trash = (top == "/" ? "" : top) + "/.Trash-" + std::to_string(::getuid());
  shown = native.substr(top == "/" ? 1 : top.size() + 1);
  return MakeFolders(trash + "/files", 0700) && MakeFolders(trash + "/info", 0700);
}

std::string EscapePath(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string result;
  for (unsigned char c : path) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 std::string_view("/-_.~").find(static_cast<char>(c)) != std::string_view::npos;
    if (plain) {
      result += static_cast<char>(c);
    } else {
      result += '%';
      result += hex[c >> 4];
      result += hex[c & 15];
    }
  }
  return result;
}

std::string TrashInfo(const std::string& shown) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  return "[Trash Info]\nPath=" + EscapePath(shown) + "\nDeletionDate=" + date + "\n";
}

// Claims a free name in info/ by creating its record exclusively, as the
// Trash specification asks, so two deleters never pick the same name.
bool ClaimName(const std::string& trash, const std::string& base, const std::string& record, std::string& name) {
  for (int attempt = 1; attempt < 100000; ++attempt) {
    name = attempt == 1 ? base : base + "." + std::to_string(attempt);
    std::string info = trash + "/info/" + name + ".trashinfo";
    int fd = ::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    bool written = ::write(fd, record.data(), record.size()) == static_cast<ssize_t>(record.size());
    ::close(fd);
    if (written) return true;
    ::unlink(info.c_str());
    return false;
  }
  errno = EEXIST;
  return false;
}

}  // namespace

Status MoveToTrash(const std::string& native, const std::string& shown) {
  struct stat st;
  if (::lstat(native.c_str(), &st) != 0) return Status::Failure(ErrnoMessage(errno, shown));
  if (native.empty() || native[0] != '/' || native == "/") return Status::Failure(ErrnoMessage(EINVAL, shown));
  std::string trash, recorded, name;
  if (!ChooseTrash(native, st.st_dev, trash, recorded) ||
      !ClaimName(trash, BaseName(native), TrashInfo(recorded), name))
    return Status::Failure(ErrnoMessage(errno, shown));
  // What goes is the entry itself, reached through no link on the way.
  FolderFd parent;
  std::string leaf;
  if (Status opened = OpenParentNoFollow(native, shown, parent, leaf); !opened.ok()) {
    ::unlink((trash + "/info/" + name + ".trashinfo").c_str());
    return opened;
  }
  if (::renameat(parent.get(), leaf.c_str(), AT_FDCWD, (trash + "/files/" + name).c_str()) != 0) {
    int error = errno;
    ::unlink((trash + "/info/" + name + ".trashinfo").c_str());
    return Status::Failure(ErrnoMessage(error, shown));
  }
  return Status::Ok();
}

}  // namespace volok::platform::posix
