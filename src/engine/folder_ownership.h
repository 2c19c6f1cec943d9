// Whose content an existing install folder holds. An install moves the
// folder's content aside, so it may take over only a folder that is empty
// or holds an earlier install of the same program; a folder of someone
// else's (another program, the user's documents) is refused.
#pragma once

#include <string>

namespace volok {

enum class TFolderContent {
  Nothing,         // missing, empty, or only the log of an earlier failed run (both
                   // the folder and the log writable by no other account)
  EarlierInstall,  // an install of the same program
  Foreign,         // anything else
};

// `folder` is an identity (PathIdentity). An earlier install is recognised
// by its "uninstall.xml" naming `short_name` (without regard to case), or
// by `registered_location`, the InstallLocation of the program's
// registration, naming the same folder.
TFolderContent InspectInstallFolder(const std::string& folder, const std::string& short_name,
                                    const std::string& registered_location);

}  // namespace volok
