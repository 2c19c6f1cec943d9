// A bounds-checked reader of the version resource inside a PE image (PE32 and
// PE32+), for systems without the Windows version API. The image is
// untrusted: every offset is checked against the image size, directories are
// walked to their fixed depth only, nothing is allocated from a size field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/version_info.h"

namespace volok::platform {

// Reads `size` bytes at `offset` of the image; false when it cannot.
using PeReadAt = std::function<bool(std::uint64_t offset, void* buffer, std::size_t size)>;

// The VS_FIXEDFILEINFO of the image's RT_VERSION resource (name 1 when there
// is one, else the first; its first language). False for anything else.
[[nodiscard]] bool FindPeFixedFileVersion(const PeReadAt& read, std::uint64_t image_size,
                                          FixedFileVersion& version);

}  // namespace volok::platform
