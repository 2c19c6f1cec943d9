// Size, CRC-32 and SHA-256 of a stream in one read: the checks an install
// makes of its package files cost one pass over their bytes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/sha256.h"

namespace volok {

namespace platform {
class File;
}

struct TFileDigest {
  std::uint64_t Size = 0;
  std::uint32_t Crc32 = 0;
  platform::Sha256Digest Sha256{};
};

// Reads `stream` from its first byte to its end, as StreamCrc32 does. When
// `copy` is given, every byte read is also written to it, so the digest is
// that of the copy's bytes. False on a seek, read or write error.
[[nodiscard]] bool StreamDigest(platform::File& stream, TFileDigest& digest, platform::File* copy = nullptr);

// The digest of a byte string.
TFileDigest BytesDigest(const std::string& bytes);

// Lower-case hexadecimal, as sha256sum prints it.
std::string HexDigest(const platform::Sha256Digest& digest);

}  // namespace volok
