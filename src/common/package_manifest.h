// The package's manifest: the name, size and SHA-256 of "setup.xml" and of
// every payload file, written by the builder into the shipped engine before
// it is signed, so the signature vouches for them. An entry may instead name
// bytes attached to the engine file itself (a single-file package), by their
// offset in that file.
//
// Layout, little-endian, nothing before or after:
//   "VOLOKMAN", u32 format (1), u32 entry count, then per entry:
//   u32 flags (bit 0: attached; bit 1: executable), u16 name length, the name (UTF-8, a relative
//   package path with "\" delimiters), u64 size, u64 offset of the attached
//   bytes in the engine file (0 when not attached), 32 bytes SHA-256.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sha256.h"

namespace volok {

inline constexpr std::uint32_t kManifestAttached = 1;
// The file the builder read had an execute bit: natively its installed copy
// gets one too, which a single file, holding no modes, could not tell.
inline constexpr std::uint32_t kManifestExecutable = 2;

struct TManifestEntry {
  std::string Name;
  std::uint64_t Size = 0;
  platform::Sha256Digest Sha256{};
  std::uint32_t Flags = 0;
  std::uint64_t Offset = 0;  // attached entries only

  bool Attached() const { return (Flags & kManifestAttached) != 0; }
  bool Executable() const { return (Flags & kManifestExecutable) != 0; }
};

struct TPackageManifest {
  std::vector<TManifestEntry> Entries;

  // The entry of a package path, compared as Windows compares names ("/"
  // and "\" alike, case ignored); null when there is none.
  const TManifestEntry* Find(const std::string& name) const;
};

std::string WriteManifest(const TPackageManifest& manifest);

// Reads `bytes` as a whole manifest. Never reads outside `bytes` and never
// throws for its content: false, with why in `failure`, for a wrong magic
// or format, a truncated or padded blob, a count the bytes cannot hold,
// unknown flags, an empty, absolute, climbing or repeated name, or an
// attached entry that is not inside `file_size` bytes.
[[nodiscard]] bool ReadManifest(std::string_view bytes, std::uint64_t file_size, TPackageManifest& manifest,
                                std::string& failure);

// kManifestExecutable when the file at `path` has an execute bit (natively;
// Windows files have none), else 0.
std::uint32_t ExecutableFlag(const std::string& path);

// The form of a package path that Find compares.
std::string ManifestKey(const std::string& name);

}  // namespace volok
