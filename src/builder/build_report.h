// What a build made, for tools: the package's files with their sizes and
// SHA-256, and the build's outcome with every warning, as JSON
// ("setup build --json <file>").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "builder/package_builder.h"

namespace volok {

struct TPackageFile {
  std::string Name;    // relative to the package folder, "\" between folders
  std::uint64_t Size = 0;
  std::string Sha256;  // 64 lower-case hexadecimal digits
};

// The SHA-256 of a file's bytes in lower-case hexadecimal; throws Error
// naming the file when it cannot be read.
std::string FileSha256(const std::string& path);

// Every file below `folder`, sorted by name (ordinal), with size and
// SHA-256; links are not followed. Throws Error when one cannot be read.
std::vector<TPackageFile> ListPackageFiles(const std::string& folder);

struct TBuildReport {
  // "created", "created-with-warnings", "strict-warnings" (made, but
  // --strict refuses it) or "failed".
  std::string Status;
  int ExitCode = 0;
  std::string Version;        // the package version, "" when the build failed before it
  std::string PackageFolder;  // "" when no package was created
  int Warnings = 0;
  int DroppedEntries = 0;
  std::vector<TBuildWarning> WarningList;
  std::vector<TPackageFile> Files;
  TPackageFile Installer;     // the single file, one of Files; no Name when none was made
  std::string Error;          // why the build failed, else ""
};

// The report as a JSON document (UTF-8, two-space indentation, LF).
std::string BuildReportJson(const TBuildReport& report);

// `text` as a JSON string literal, quotes included; control characters
// and invalid UTF-8 bytes escaped as \uXXXX (an invalid byte as U+FFFD).
std::string JsonString(const std::string& text);

}  // namespace volok
