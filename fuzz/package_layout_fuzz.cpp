// Any bytes read as an engine's own file, the first 64 taken as the record
// its running image carries: refused or read in the one layout, never past
// the file's end, and a file that is then cut by a byte or grown by one is
// refused, as is one signed again over bytes added after the manifest.
#include "common/package_layout.h"
#include "fuzz_support.h"
#include "memory_file.h"

using volok::fuzz::Expect;

namespace {

bool Reads(const std::string& bytes, const volok::TManifestRecord& record, volok::TPackageManifest& manifest) {
  volok::testing::MemoryFile file(bytes);
  std::string failure;
  const bool read = volok::ReadPackageLayout(file, record, manifest, failure);
  Expect(!file.ReadPastEnd, "no read past the file's end");
  Expect(read == failure.empty(), "a refusal says why, an acceptance does not");
  Expect(read || manifest.Entries.empty(), "a refusal keeps nothing");
  return read;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input = volok::fuzz::Text(data, size);
  volok::TManifestRecord record;
  if (!volok::DecodeManifestRecord(input, record)) return 0;
  const std::string file = input.substr(volok::kManifestRecordSize);
  volok::TPackageManifest manifest;
  if (!Reads(file, record, manifest)) return 0;
  Expect(record.Offset + record.Length <= file.size(), "the manifest lies inside the file");
  for (const volok::TManifestEntry& entry : manifest.Entries)
    if (entry.Attached()) Expect(entry.Offset + entry.Size <= record.Offset, "attached files lie before the manifest");
  volok::TPackageManifest again;
  Expect(!Reads(file.substr(0, file.size() - 1), record, again), "a file cut by a byte is refused");
  Expect(!Reads(file + '\0', record, again), "a file grown by a byte is refused");
  return 0;
}
