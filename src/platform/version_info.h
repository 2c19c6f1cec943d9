// The fixed part of a file's version resource (VS_FIXEDFILEINFO). Windows
// asks the version API (GetFileVersionInfoW, VerQueryValueW "\"); POSIX
// reads the resource out of the PE file itself, so a Linux host reads the
// version of any Windows executable or DLL.
#pragma once

#include <cstdint>
#include <string>

namespace volok::platform {

struct FixedFileVersion {
  std::uint32_t FileVersionMS = 0;
  std::uint32_t FileVersionLS = 0;
  std::uint32_t ProductVersionMS = 0;
  std::uint32_t ProductVersionLS = 0;
};

// False when the file cannot be read, is no PE image with a version
// resource, or that resource lacks its fixed part.
[[nodiscard]] bool ReadFixedFileVersion(const std::string& path, FixedFileVersion& version);

}  // namespace volok::platform
