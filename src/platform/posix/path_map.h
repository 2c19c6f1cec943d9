// Maps the Windows paths used above the platform layer to POSIX paths the
// way Wine does: drive Z: is the root "/", backslashes become slashes, and
// relative paths stay relative to the current folder.
#pragma once

#include <string>

namespace volok::platform::posix {

// False for paths with no POSIX equivalent (another drive letter, UNC).
[[nodiscard]] bool ToNativePath(const std::string& windows_path, std::string& native_path);
// "/a/b" becomes "Z:\a\b"; a relative path only has its slashes turned.
std::string FromNativePath(const std::string& native_path);
// The message for a path ToNativePath refused.
std::string UnmappedPathMessage(const std::string& windows_path);
// strerror text of an errno value, with the path it concerns.
std::string ErrnoMessage(int error, const std::string& path);

}  // namespace volok::platform::posix
