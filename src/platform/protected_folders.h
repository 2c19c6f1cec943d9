// Folders of the system that no install may take over and no delete may
// reach, beyond the special folders the variables name.
#pragma once

#include <string>
#include <vector>

namespace volok::platform {

struct ProtectedFolderLists {
  // Refused themselves and every folder above them (a program may live
  // below them): the program-files roots, the profiles, the public folders.
  std::vector<std::string> Above;
  // Refused themselves and everything below them: the system's own folders
  // (Windows: the Windows folder; POSIX: /usr, /etc, /bin, … and the
  // registry store).
  std::vector<std::string> Within;
};

// Windows: the Windows folder, both program-files roots (64- and 32-bit),
// both common-files roots, the profiles folder and the public profile, as
// the system names them now. POSIX: the standard system folders and the
// registry store's folder, as Z: paths.
ProtectedFolderLists SystemProtectedFolders();

}  // namespace volok::platform
