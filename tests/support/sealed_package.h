// Seals a stand-in "setup.exe" as the builder seals a real engine: the
// manifest of the files beside it appended, and the record that names it
// handed to the engine in place of the running image's.
#pragma once

#include <memory>
#include <string>

#include "common/manifest_record.h"

namespace volok::testing {

// Cuts an earlier manifest off the stand-in engine `exe` (a Windows path),
// appends the manifest of every file below its folder (but the engine, the
// uninstaller's files and logs) and answers its record.
TManifestRecord SealStandIn(const std::string& exe);

// While it lives, every engine start seals ExeFileName() first.
class ScopedSealing final {
 public:
  ScopedSealing();

 private:
  ScopedManifestRecord FRecord;
};

}  // namespace volok::testing
