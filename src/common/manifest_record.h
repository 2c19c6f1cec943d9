// Where an engine finds its package's manifest: a fixed-size record in its
// own image, in a section named ".volok" (PE and ELF alike). A bare engine's
// record is empty. The builder appends the manifest to its copy of the
// engine, after the last section and before any certificate table, so
// Authenticode covers it, and fills the record (found through the section
// headers of that copy) with the manifest's offset, length and SHA-256; the
// copy is then signed. At run time the record is read from the mapped image,
// which no one can change under the running process, and the manifest read
// from the engine's file is trusted only when it has that hash.
//
// Record layout, little-endian: the 16-byte magic "VOLOK-MANIFEST-1",
// u64 offset, u64 length, 32 bytes SHA-256.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/sha256.h"

namespace volok {

inline constexpr char kManifestSection[] = ".volok";
inline constexpr std::size_t kManifestRecordSize = 64;
inline constexpr std::string_view kManifestRecordMagic = "VOLOK-MANIFEST-1";

struct TManifestRecord {
  std::uint64_t Offset = 0;
  std::uint64_t Length = 0;
  platform::Sha256Digest Sha256{};

  bool Empty() const { return Length == 0; }
};

// The record's bytes, magic first.
std::string EncodeManifestRecord(const TManifestRecord& record);
// False when `bytes` is shorter than a record or lacks the magic.
[[nodiscard]] bool DecodeManifestRecord(std::string_view bytes, TManifestRecord& record);

// The record of the running image, or the one a ScopedManifestRecord set.
TManifestRecord OwnManifestRecord();

// Stands in for the running image's record while it lives: tests and
// benchmarks run as a stand-in "setup.exe" that no builder sealed. The
// latest one holds; set and cleared on the main thread while no worker
// runs. The function form answers at each ask.
class ScopedManifestRecord final {
 public:
  explicit ScopedManifestRecord(const TManifestRecord& record);
  explicit ScopedManifestRecord(std::function<TManifestRecord()> source);
  ~ScopedManifestRecord();
  ScopedManifestRecord(const ScopedManifestRecord&) = delete;
  ScopedManifestRecord& operator=(const ScopedManifestRecord&) = delete;

  TManifestRecord Get() const { return FSource(); }

 private:
  std::function<TManifestRecord()> FSource;
  const ScopedManifestRecord* FSaved;
};

}  // namespace volok
