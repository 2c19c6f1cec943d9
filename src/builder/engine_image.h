// The engine's executable file as the builder seals it: the manifest
// appended after everything the image holds, and the ".volok" record found
// through the file's own section headers (PE or ELF), never by scanning.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/manifest_record.h"

namespace volok {

// The file offset of the manifest record in `image`, an engine's bytes.
// Throws Error for a file that is neither PE nor ELF64, has no ".volok"
// section, or whose section does not start with the record's magic.
std::uint64_t ManifestRecordOffset(std::string_view image);

// The record's offset in `image`, a bare engine: refuses, as SealEngine
// does, one whose record is already filled or that is already signed.
std::uint64_t BareRecordOffset(std::string_view image);

// Appends `manifest` to the engine file `path` and fills the record of its
// image with the manifest's place and hash. Refuses, before it writes
// anything, an engine whose record is already filled (a package's
// "setup.exe" rather than the bare engine) or that is already signed: the
// signature must come after, so that it covers the manifest.
void SealEngine(const std::string& path, const std::string& manifest);

// Appends `manifest` to any file and answers the record that names it:
// the stand-in of a sealed engine where the running image is not one.
TManifestRecord AppendManifest(const std::string& path, const std::string& manifest);

}  // namespace volok
