#include "platform/protected_folders.h"

#include "platform/posix/path_map.h"
#include "platform/posix/registry_store.h"

namespace volok::platform {

ProtectedFolderLists SystemProtectedFolders() {
  ProtectedFolderLists lists;
  // What the package manager and the system own: nothing of an install
  // belongs there, not even a subfolder.
  for (const char* folder : {"/usr", "/etc", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32", "/boot",
                             "/dev", "/proc", "/sys", "/run", "/var/lib/dpkg", "/var/cache", "/var/log"})
    lists.Within.push_back(posix::FromNativePath(folder));
  lists.Within.push_back(posix::FromNativePath(posix::RegistryStoreFolder()));
  for (const char* folder : {"/home", "/root", "/var", "/srv", "/mnt", "/media"})
    lists.Above.push_back(posix::FromNativePath(folder));
  return lists;
}

}  // namespace volok::platform
