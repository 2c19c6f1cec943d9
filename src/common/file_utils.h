// Path and folder routines shared by the engine, the wizard and the builder.
// Paths are Windows paths whose only delimiter is "\\"; a forward slash is
// never taken as one here. None of them raises: failures show as false or
// an empty text.
#pragma once

#include <string>

namespace volok {

// `path` with "\\" appended unless it already ends in one ("" gives "\\").
std::string IncludeTrailingDelimiter(const std::string& path);
// `path` without one trailing "\\" ("C:\\" gives "C:", "a\\\\" gives "a\\").
std::string ExcludeTrailingDelimiter(const std::string& path);

// Deletes a file or a folder with everything in it, without any window:
// permanently, or into the Recycle Bin. Relative paths resolve against the
// current folder. A drive root ("C:\\", "C:", "\\") is refused with false, so
// a path built from an empty variable can never wipe a drive.
[[nodiscard]] bool DeleteFolder(const std::string& path, bool permanent);

// Creates a folder and every missing one above it, outermost first. True
// when it exists afterwards; "" and texts shorter than three characters
// (a drive such as "C:") count as existing.
[[nodiscard]] bool ForceFolders(const std::string& path);

// The temporary folder without a trailing "\\", or "" when the system has none.
std::string GetTempFolder();

}  // namespace volok
