// The layout of a sealed engine's file, as the engine reads its own:
//
//   the image        the engine's program as linked; its ".volok" record
//                    names the manifest (manifest_record.h)
//   attached files   a single-file package only: each file the manifest
//                    marks attached, back to back
//   the manifest     package_manifest.h
//   the signature    a signed PE only: zeros up to the next multiple of 8,
//                    then the certificate table the PE's data directory 4
//                    names, up to the end of the file
//
// Authenticode hashes everything before the certificate table, so a
// signature covers the attached files and the manifest alike. Nothing else
// may lie anywhere: a file cut short, grown, or altered and signed again
// over bytes added after the manifest no longer has this layout.
//
// A single file's manifest vouches for the image too, as two attached
// entries around the record (which holds the manifest's hash and so cannot
// be in it): kImageHeadEntry from the first byte up to the record, whose
// 64 bytes must then be the very record the running image carries, and
// kImageTailEntry from the record to the end of the image. The other files
// follow the tail, kUninstallerEntry first.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/manifest_record.h"
#include "common/package_manifest.h"
#include "platform/file_system.h"

namespace volok {

// A manifest larger than this is not read into memory.
inline constexpr std::uint64_t kMaxManifestLength = 64u << 20;
// An image head larger than this is not read into memory.
inline constexpr std::uint64_t kMaxImageHeadLength = 256u << 20;

inline constexpr char kImageHeadEntry[] = "setup.exe";
inline constexpr char kImageTailEntry[] = "setup.exe.tail";
// The bare engine, signed on its own, that an install from a single file
// writes out as the program's uninstaller.
inline constexpr char kUninstallerEntry[] = "uninstall.exe";

// The SHA-256 the image head is recorded with: a PE's checksum and its
// certificate-table entry, which signing rewrites and Authenticode leaves
// out of its own hash, count as zeros.
platform::Sha256Digest ImageHeadDigest(std::string head);

// The little-endian field of `size` bytes at `at`; false when it lies
// outside `bytes`.
[[nodiscard]] bool LeField(std::string_view bytes, std::uint64_t at, int size, std::uint64_t& value);

// Reads bytes.size() bytes of `file` at `offset`: all of them, or false.
[[nodiscard]] bool ReadExactly(platform::File& file, std::uint64_t offset, std::string& bytes);

// Where the certificate table of a PE file lies, from its headers (the
// first bytes of the file, 4 KB are plenty). False when `headers` is not a
// PE file or is cut inside the fields read; `offset` and `size` are 0 for
// an unsigned one.
[[nodiscard]] bool PeCertificateTable(std::string_view headers, std::uint64_t& offset, std::uint64_t& size);

// Reads the manifest that `record` (from the running image) names in
// `file`, trusts it only when it has the record's hash, and checks the
// layout above. Reads nothing outside `file` and never throws for its
// content: false, with why in `failure`, otherwise.
[[nodiscard]] bool ReadPackageLayout(platform::File& file, const TManifestRecord& record, TPackageManifest& manifest,
                                     std::string& failure);

}  // namespace volok
