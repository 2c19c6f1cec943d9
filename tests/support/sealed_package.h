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

// The smallest ELF64 file that a builder seals: the text "stand-in engine",
// a bare ".volok" record and the section headers that find it.
std::string StandInEngine();

// The smallest PE file that a builder seals: headers for `machine`, one
// ".volok" section with a bare record.
std::string StandInPeEngine(unsigned machine);

// A sealed stand-in as it was before the builder sealed it: the record
// bare again and the manifest (and whatever followed it) cut off.
std::string Unsealed(const std::string& image);

// While it lives, every engine start seals ExeFileName() first.
class ScopedSealing final {
 public:
  ScopedSealing();

 private:
  ScopedManifestRecord FRecord;
};

}  // namespace volok::testing
