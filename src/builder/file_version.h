// The version numbers of a file's version resource.
#pragma once

#include <string>

#include "model/version.h"

namespace volok {

// Reads the fixed part of the version resource of `FileName` (the running
// executable when empty): the file version with `FileVersion`, else the
// product version. `Version` is 0.0.0.0 unless the answer is true; false
// when the file does not exist or carries no version resource.
[[nodiscard]] bool ReadFileVersion(TVersion& Version, const std::string& FileName, bool FileVersion);

}  // namespace volok
