// The parts of a batch that lies in a folder of its own (StartFolderBatch):
// shared by both platform layers.
#pragma once

#include <string>

namespace volok::platform {

// `batch` = parent + "\\" + folder + "\\" + name, where folder and name hold
// only letters, digits, "-", "_" and "." (so a command line can hold them
// unquoted and unexpanded); false otherwise.
bool SplitFolderBatch(const std::string& batch, std::string& parent, std::string& folder, std::string& name);

}  // namespace volok::platform
