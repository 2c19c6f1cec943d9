// Maps the Windows paths used above the platform layer to POSIX paths the
// way Wine does: drive Z: is the root "/", backslashes become slashes, and
// relative paths stay relative to the current folder.
#pragma once

#include <string>
#include <vector>

namespace volok::platform::posix {

// False for paths with no POSIX equivalent (another drive letter, UNC).
// "." and ".." are resolved without looking at the disk, as Windows does;
// an empty path stays empty.
[[nodiscard]] bool ToNativePath(const std::string& windows_path, std::string& native_path);
// "/a/b" becomes "Z:\a\b"; a relative path only has its slashes turned.
std::string FromNativePath(const std::string& native_path);
// The segments of `path` split at `delimiter`, empty and "." ones dropped and
// each ".." taking away the one before it; a ".." with nothing before it
// stays when `relative` (it climbs above the current folder) and is dropped
// at a root.
std::vector<std::string> ResolveDots(const std::string& path, char delimiter, bool relative);
// The message for a path ToNativePath refused.
std::string UnmappedPathMessage(const std::string& windows_path);
// strerror text of an errno value, with the path it concerns.
std::string ErrnoMessage(int error, const std::string& path);

}  // namespace volok::platform::posix
