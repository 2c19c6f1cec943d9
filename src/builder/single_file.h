// The single-file package: the bare engine with every file of the package
// attached after its image and the manifest after them, in the layout the
// engine reads (common/package_layout.h), ready to be signed as a whole.
#pragma once

#include <string>
#include <vector>

#include "common/manifest_record.h"

namespace volok {

struct TAttachedFile {
  std::string Name;  // the package path the manifest gives it
  std::string Path;  // where the builder reads it
};

// Writes `target`: the image of the bare engine `engine`, `files` back to
// back in that order, their manifest (the image's two parts first; each
// file's size and SHA-256 those of the very bytes written), and the image's
// record filled in to name the manifest; answers that record. Refuses, before it writes anything, an
// engine that is already sealed or signed (as SealEngine does), and throws
// Error naming the file that could not be read or written; a target left
// half written is removed.
TManifestRecord WriteSingleFile(const std::string& engine, const std::vector<TAttachedFile>& files,
                                const std::string& target);

// "<ShortName>-<version>-setup.exe", without the characters a Windows file
// name cannot hold; "setup" stands for a short name that has none left.
std::string SingleFileName(const std::string& short_name, const std::string& version);

}  // namespace volok
