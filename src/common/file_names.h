// What Windows accepts as one file or folder name, and relative paths made
// of such names. Used wherever a name from outside (an archive item, a
// build entry's output name, a file found in a source folder) is about to
// become a path on disk.
#pragma once

#include <string>
#include <string_view>

namespace volok {

// Whether one segment may reach the file system without naming something
// else than it seems to: no control character (a NUL would cut the path
// short in the system call), none of <>:"|?*/\ (wildcards, drives and
// alternate data streams on Windows), not made of dots and blanks only
// (Windows trims those to "." or ".."), not a device name such as "CON" or
// "nul.txt".
bool IsSafeNameSegment(std::string_view segment);

// Whether Windows keeps `name` as it stands: a safe segment that does not
// end in a dot or a blank (Windows would trim it into another name).
bool IsWindowsFileName(std::string_view name);

// Whether `path` is a relative path that stays where it starts: segments
// split at "\" or "/", none of them empty, each one IsWindowsFileName.
bool IsPlainRelativePath(std::string_view path);

// The message refusing `path` because it is neither a regular file nor a
// folder (a FIFO, socket or device, which is never opened for reading).
std::string NotFileOrFolderMessage(const std::string& path);

}  // namespace volok
