#include "platform/private_folder.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/posix/path_map.h"

namespace volok::platform {

Status MakePrivateFolder(const std::string& path) {
  std::string native;
  if (!posix::ToNativePath(path, native)) return Status::Failure(posix::UnmappedPathMessage(path));
  // mkdir never follows a link at the last component: an existing name,
  // link or not, fails with EEXIST.
  if (::mkdir(native.c_str(), 0700) != 0) return Status::Failure(posix::ErrnoMessage(errno, path));
  // The umask may have taken bits away, never added any; the mode is set
  // exactly all the same.
  if (::chmod(native.c_str(), 0700) != 0) return Status::Failure(posix::ErrnoMessage(errno, path));
  return Status::Ok();
}

}  // namespace volok::platform
