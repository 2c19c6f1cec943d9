// Any bytes read as a package manifest (and their first 64 as the image's
// record): refused or read whole, never past their end (the view is the
// fuzzer's own exactly-sized buffer), and what is read writes back to the
// very same bytes, so no padding, trailing data or second form is taken.
#include "common/manifest_record.h"
#include "common/package_manifest.h"
#include "fuzz_support.h"

using volok::fuzz::Expect;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // The engine file the manifest lives in: as large as the manifest and a
  // little more, so attached entries may and may not fit.
  const std::uint64_t file_size = size + (size > 0 ? data[0] : 0) * 16;
  volok::TPackageManifest manifest;
  std::string failure;
  if (volok::ReadManifest(bytes, file_size, manifest, failure)) {
    Expect(failure.empty(), "no failure text for an accepted manifest");
    Expect(volok::WriteManifest(manifest) == bytes, "an accepted manifest writes back to its bytes");
    for (const volok::TManifestEntry& entry : manifest.Entries) {
      Expect(!entry.Name.empty(), "no empty name");
      if (entry.Attached()) Expect(entry.Offset + entry.Size <= file_size, "attached bytes inside the file");
      Expect(manifest.Find(entry.Name) == &entry, "names are unique");
    }
  } else {
    Expect(!failure.empty() && manifest.Entries.empty(), "a refusal says why and keeps nothing");
  }
  volok::TManifestRecord record;
  if (volok::DecodeManifestRecord(bytes, record))
    Expect(volok::EncodeManifestRecord(record) == bytes.substr(0, volok::kManifestRecordSize), "the record round-trips");
  return 0;
}
