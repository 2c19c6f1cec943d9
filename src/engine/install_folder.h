// The guard of the install folder. An install moves everything in its folder
// aside and writes there with administrator rights, so the folder must be
// one the engine may take over.
#pragma once

#include <string>
#include <vector>

namespace volok {

// Answers the absolute form of `folder` (relative to the current folder,
// "." and ".." resolved, no trailing delimiter). Refuses, with the error
// "Недопустимая папка установки: " + folder + ".", an empty folder, a drive
// root ("X:\", "X:", "\", "\\server\share"), any of `guarded` (compared
// without regard to case and trailing delimiters), and any folder above one
// of them.
std::string ResolveInstallFolder(const std::string& folder, const std::vector<std::string>& guarded);

}  // namespace volok
