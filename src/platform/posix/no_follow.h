// Moves and deletes that never go through a symbolic link: every folder on
// the way is opened with O_NOFOLLOW from "/" down, and the change is made
// relative to the opened parent, so a link put in place of a folder between
// two steps makes the call fail instead of reaching what the link names.
#pragma once

#include <string>

#include "platform/status.h"

namespace volok::platform::posix {

// An open folder descriptor, closed on destruction.
class FolderFd final {
 public:
  FolderFd() = default;
  explicit FolderFd(int fd) : FFd(fd) {}
  ~FolderFd();
  FolderFd(FolderFd&& other) noexcept : FFd(other.FFd) { other.FFd = -1; }
  FolderFd& operator=(FolderFd&& other) noexcept;
  FolderFd(const FolderFd&) = delete;
  FolderFd& operator=(const FolderFd&) = delete;
  int get() const { return FFd; }
  bool valid() const { return FFd >= 0; }

 private:
  int FFd = -1;
};

// Opens the folder holding the absolute `native` path, no link followed on
// the way, and answers its last segment in `leaf`. Fails (ELOOP, ENOTDIR)
// when a folder on the way is a link.
Status OpenParentNoFollow(const std::string& native, const std::string& shown, FolderFd& parent, std::string& leaf);

// rename() of the entry itself (a link moves as the link), replacing a
// target file or link but never a folder, neither path passing a link.
Status RenameNoFollow(const std::string& source, const std::string& target, const std::string& shown_source,
                      const std::string& shown_target);
// mkdir() of a new folder, no link on the way.
Status MakeFolderNoFollow(const std::string& native, const std::string& shown);
// Deletes a file, a link or an empty folder itself, no link on the way.
Status RemoveNoFollow(const std::string& native, const std::string& shown);
// Deletes `native` and, for a folder, everything below it, relative to
// opened folders: a link is removed as the link, a folder swapped for a
// link during the walk is not entered.
Status RemoveTreeNoFollow(const std::string& native, const std::string& shown);

}  // namespace volok::platform::posix
