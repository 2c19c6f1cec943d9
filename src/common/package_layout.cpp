#include "common/package_layout.h"

#include <algorithm>
#include <vector>

#include "common/file_digest.h"

namespace volok {

namespace {

constexpr std::size_t kHeaderBytes = 4096;
constexpr std::uint64_t kCertificateAlignment = 8;

std::vector<const TManifestEntry*> AttachedByOffset(const TPackageManifest& manifest) {
  std::vector<const TManifestEntry*> attached;
  for (const TManifestEntry& entry : manifest.Entries)
    if (entry.Attached()) attached.push_back(&entry);
  std::sort(attached.begin(), attached.end(),
            [](const TManifestEntry* a, const TManifestEntry* b) { return a->Offset < b->Offset; });
  return attached;
}

// The attached files fill the bytes before the manifest exactly, the
// image's two parts first with the running image's record between them.
bool AttachedTile(platform::File& file, const TPackageManifest& manifest, const TManifestRecord& record) {
  const std::vector<const TManifestEntry*> attached = AttachedByOffset(manifest);
  if (attached.empty()) return true;
  if (attached.size() < 2 || attached[0]->Name != kImageHeadEntry || attached[0]->Offset != 0 ||
      attached[1]->Name != kImageTailEntry || attached[1]->Offset != attached[0]->Size + kManifestRecordSize)
    return false;
  std::string in_file(kManifestRecordSize, '\0');
  if (!ReadExactly(file, attached[0]->Size, in_file) || in_file != EncodeManifestRecord(record)) return false;
  for (std::size_t i = 2; i < attached.size(); ++i)
    if (attached[i - 1]->Offset + attached[i - 1]->Size != attached[i]->Offset) return false;
  return attached.back()->Offset + attached.back()->Size == record.Offset;
}

// What follows the manifest: nothing, or a signed PE's padding and table.
bool TailIsSignature(platform::File& file, std::uint64_t manifest_end, std::uint64_t size, std::string& failure) {
  if (manifest_end == size) return true;
  std::string headers(static_cast<std::size_t>(std::min<std::uint64_t>(size, kHeaderBytes)), '\0');
  std::uint64_t table = 0, table_size = 0;
  const std::uint64_t aligned = (manifest_end + kCertificateAlignment - 1) / kCertificateAlignment * kCertificateAlignment;
  if (!ReadExactly(file, 0, headers) || !PeCertificateTable(headers, table, table_size) || table == 0 ||
      table != aligned || table_size > size || table != size - table_size) {
    failure = "после описи лишние данные";
    return false;
  }
  std::string padding(static_cast<std::size_t>(aligned - manifest_end), '\0');
  if (!ReadExactly(file, manifest_end, padding) || padding.find_first_not_of('\0') != std::string::npos) {
    failure = "после описи лишние данные";
    return false;
  }
  return true;
}

}  // namespace

bool LeField(std::string_view bytes, std::uint64_t at, int size, std::uint64_t& value) {
  if (at > bytes.size() || bytes.size() - at < static_cast<std::uint64_t>(size)) return false;
  value = 0;
  for (int i = size - 1; i >= 0; --i)
    value = (value << 8) | static_cast<unsigned char>(bytes[static_cast<std::size_t>(at) + static_cast<std::size_t>(i)]);
  return true;
}

bool ReadExactly(platform::File& file, std::uint64_t offset, std::string& bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t done = 0;
    if (!file.ReadAt(offset + at, &bytes[at], bytes.size() - at, done).ok() || done == 0) return false;
    at += done;
  }
  return true;
}

platform::Sha256Digest ImageHeadDigest(std::string head) {
  std::uint64_t pe = 0, table = 0, table_size = 0;
  if (PeCertificateTable(head, table, table_size) && LeField(head, 0x3C, 4, pe)) {
    const std::uint64_t optional = pe + 24;
    std::uint64_t magic = 0, count = 0;
    (void)LeField(head, optional, 2, magic);
    const std::uint64_t directory = optional + (magic == 0x10B ? 96 : 112) + 4 * 8;
    head.replace(static_cast<std::size_t>(optional + 64), 4, 4, '\0');  // the checksum
    if (LeField(head, optional + (magic == 0x10B ? 92 : 108), 4, count) && count > 4)
      head.replace(static_cast<std::size_t>(directory), 8, 8, '\0');
  }
  return BytesDigest(head).Sha256;
}

bool PeCertificateTable(std::string_view headers, std::uint64_t& offset, std::uint64_t& size) {
  offset = size = 0;
  std::uint64_t pe = 0, signature = 0, magic = 0, count = 0;
  if (headers.substr(0, 2) != "MZ" || !LeField(headers, 0x3C, 4, pe) || !LeField(headers, pe, 4, signature) ||
      signature != 0x00004550 || !LeField(headers, pe + 24, 2, magic) || (magic != 0x10B && magic != 0x20B))
    return false;
  const std::uint64_t optional = pe + 24;
  if (!LeField(headers, optional + (magic == 0x10B ? 92 : 108), 4, count)) return false;
  if (count <= 4) return true;
  const std::uint64_t directory = optional + (magic == 0x10B ? 96 : 112) + 4 * 8;
  return LeField(headers, directory, 4, offset) && LeField(headers, directory + 4, 4, size);
}

bool ReadPackageLayout(platform::File& file, const TManifestRecord& record, TPackageManifest& manifest,
                       std::string& failure) {
  manifest.Entries.clear();
  failure.clear();
  std::uint64_t size = 0;
  if (record.Empty() || !file.Size(size).ok() || record.Length > kMaxManifestLength || record.Offset > size ||
      record.Length > size - record.Offset) {
    failure = "опись вне файла установщика";
    return false;
  }
  std::string bytes(static_cast<std::size_t>(record.Length), '\0');
  if (!ReadExactly(file, record.Offset, bytes) || BytesDigest(bytes).Sha256 != record.Sha256) {
    failure = "опись не совпадает с записью в образе";
    return false;
  }
  // Attached files lie before the manifest, never inside or after it.
  if (!ReadManifest(bytes, record.Offset, manifest, failure)) return false;
  if (!AttachedTile(file, manifest, record)) failure = "вложенные файлы не занимают место до описи целиком";
  else (void)TailIsSignature(file, record.Offset + record.Length, size, failure);
  if (!failure.empty()) manifest.Entries.clear();
  return failure.empty();
}

}  // namespace volok
