#include "common/manifest_record.h"

#include <cstring>
#include <utility>

namespace volok {

namespace {

// The running image's record: the magic and zeros until a builder fills it
// in a sealed copy. `volatile` keeps the compiler from folding the zeros
// into the code that reads them; `used` keeps the section in the image.
extern "C" {
__attribute__((section(".volok"), used, aligned(16))) const volatile unsigned char volok_manifest_record[kManifestRecordSize] =
    {'V', 'O', 'L', 'O', 'K', '-', 'M', 'A', 'N', 'I', 'F', 'E', 'S', 'T', '-', '1'};
}

const ScopedManifestRecord* gOverride = nullptr;

void PutLe(std::string& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint64_t GetLe(std::string_view bytes, std::size_t at) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  return value;
}

}  // namespace

std::string EncodeManifestRecord(const TManifestRecord& record) {
  std::string out(kManifestRecordMagic);
  PutLe(out, record.Offset);
  PutLe(out, record.Length);
  out.append(reinterpret_cast<const char*>(record.Sha256.data()), record.Sha256.size());
  return out;
}

bool DecodeManifestRecord(std::string_view bytes, TManifestRecord& record) {
  record = TManifestRecord();
  if (bytes.size() < kManifestRecordSize || bytes.substr(0, kManifestRecordMagic.size()) != kManifestRecordMagic)
    return false;
  record.Offset = GetLe(bytes, 16);
  record.Length = GetLe(bytes, 24);
  std::memcpy(record.Sha256.data(), bytes.data() + 32, record.Sha256.size());
  return true;
}

TManifestRecord OwnManifestRecord() {
  if (gOverride) return gOverride->Get();
  std::string bytes(kManifestRecordSize, '\0');
  for (std::size_t i = 0; i < kManifestRecordSize; ++i) bytes[i] = static_cast<char>(volok_manifest_record[i]);
  TManifestRecord record;
  (void)DecodeManifestRecord(bytes, record);
  return record;
}

ScopedManifestRecord::ScopedManifestRecord(const TManifestRecord& record)
    : ScopedManifestRecord([record] { return record; }) {}

ScopedManifestRecord::ScopedManifestRecord(std::function<TManifestRecord()> source)
    : FSource(std::move(source)), FSaved(gOverride) {
  gOverride = this;
}

ScopedManifestRecord::~ScopedManifestRecord() { gOverride = FSaved; }

}  // namespace volok
