// Path and folder routines shared by the engine, the wizard and the builder.
// Paths are Windows paths whose only delimiter is "\\"; a forward slash is
// never taken as one here. None of them raises: failures show as false or
// an empty text.
#pragma once

#include <string>

namespace volok {

namespace platform {
struct FileEntry;
}

// `path` with "\\" appended unless it already ends in one ("" gives "\\").
std::string IncludeTrailingDelimiter(const std::string& path);
// `path` without one trailing "\\" ("C:\\" gives "C:", "a\\\\" gives "a\\").
std::string ExcludeTrailingDelimiter(const std::string& path);

// True for a path naming a whole drive, with or without its trailing
// delimiter: "", "\\", "C:", "C:\\", "\\\\server\\share".
bool IsDriveRoot(const std::string& path);

// True when `mask` holds "*" or "?".
bool HasWildcard(const std::string& mask);
// Whether a file name matches a mask as Windows matches them: "*" any run of
// characters, "?" exactly one, without regard to case; "*.*" matches every
// name and a mask ending in ".*" also names without an extension.
bool MatchesMask(const std::string& name, const std::string& mask);

// Deletes a file or a folder with everything in it, without any window:
// permanently, or into the Recycle Bin. Relative paths resolve against the
// current folder. A drive root ("C:\\", "C:", "\\") is refused with false, so
// a path built from an empty variable can never wipe a drive, and so is a
// path holding a wildcard, which the shell would expand on its own.
[[nodiscard]] bool DeleteFolder(const std::string& path, bool permanent);

// Creates a folder and every missing one above it, outermost first. True
// when it exists afterwards; "" and texts shorter than three characters
// (a drive such as "C:") count as existing.
[[nodiscard]] bool ForceFolders(const std::string& path);

// Creates a new folder named `prefix` + 16 random lower-case letters and
// digits inside `parent`, so no other process can have prepared it; answers
// its path with a trailing "\\", or "" when none could be made. `private_folder`:
// made by platform::MakePrivateFolder (only this account and administrators
// reach it).
std::string MakeFreshFolder(const std::string& parent, const std::string& prefix, bool private_folder = false);

// The entry its folder's listing gives for the file `path` (its name
// compared without regard to case, as Windows finds it): modes, attributes
// and times in one call. False when the folder cannot be listed or holds no
// such name.
[[nodiscard]] bool FolderEntryOf(const std::string& path, platform::FileEntry& entry);

// The temporary folder without a trailing "\\", or "" when the system has none.
std::string GetTempFolder();

}  // namespace volok
