#include "common/package_manifest.h"

#include <cstring>
#include <set>

#include "common/file_utils.h"
#include "common/text.h"
#include "platform/file_system.h"

namespace volok {

namespace {

constexpr char kMagic[8] = {'V', 'O', 'L', 'O', 'K', 'M', 'A', 'N'};
constexpr std::uint32_t kFormat = 1;
// flags, name length, size, offset, digest; the name comes on top.
constexpr std::size_t kFixedEntrySize = 4 + 2 + 8 + 8 + 32;
constexpr std::size_t kMaxNameLength = 1024;

void PutLe(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A cursor that refuses to move past the end of its bytes.
class Cursor {
 public:
  explicit Cursor(std::string_view bytes) : FBytes(bytes) {}
  bool Take(std::size_t count, std::string_view& part) {
    if (FBytes.size() - FAt < count) return false;
    part = FBytes.substr(FAt, count);
    FAt += count;
    return true;
  }
  bool Le(int bytes, std::uint64_t& value) {
    std::string_view part;
    if (!Take(static_cast<std::size_t>(bytes), part)) return false;
    value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(part[static_cast<std::size_t>(i)]);
    return true;
  }
  std::size_t Left() const { return FBytes.size() - FAt; }

 private:
  std::string_view FBytes;
  std::size_t FAt = 0;
};

bool NameIsSound(const std::string& name) {
  if (name.empty() || name[0] == '\\' || name[0] == '/' || name.find(':') != std::string::npos) return false;
  for (unsigned char c : name)
    if (c < 0x20) return false;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = name.find_first_of("\\/", start);
    std::string_view part = std::string_view(name).substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

bool ReadEntry(Cursor& cursor, std::uint64_t file_size, TManifestEntry& entry, std::string& failure) {
  std::uint64_t flags = 0, length = 0;
  std::string_view name, digest;
  if (!cursor.Le(4, flags) || !cursor.Le(2, length) || !cursor.Take(static_cast<std::size_t>(length), name) ||
      !cursor.Le(8, entry.Size) || !cursor.Le(8, entry.Offset) || !cursor.Take(entry.Sha256.size(), digest)) {
    failure = "опись обрывается";
    return false;
  }
  entry.Flags = static_cast<std::uint32_t>(flags);
  entry.Name.assign(name);
  std::memcpy(entry.Sha256.data(), digest.data(), entry.Sha256.size());
  if ((entry.Flags & ~(kManifestAttached | kManifestExecutable)) != 0) failure = "неизвестные признаки записи";
  else if (length > kMaxNameLength || !NameIsSound(entry.Name)) failure = "недопустимое имя файла";
  else if (!entry.Attached() && entry.Offset != 0) failure = "смещение у файла вне установщика";
  else if (entry.Attached() && (entry.Offset > file_size || entry.Size > file_size - entry.Offset))
    failure = "данные файла вне установщика";
  return failure.empty();
}

}  // namespace

std::string ManifestKey(const std::string& name) {
  std::string key = LowerCase(name);
  for (char& c : key)
    if (c == '/') c = '\\';
  return key;
}

const TManifestEntry* TPackageManifest::Find(const std::string& name) const {
  const std::string key = ManifestKey(name);
  for (const TManifestEntry& entry : Entries)
    if (ManifestKey(entry.Name) == key) return &entry;
  return nullptr;
}

std::string WriteManifest(const TPackageManifest& manifest) {
  std::string out(kMagic, sizeof kMagic);
  PutLe(out, kFormat, 4);
  PutLe(out, manifest.Entries.size(), 4);
  for (const TManifestEntry& entry : manifest.Entries) {
    PutLe(out, entry.Flags, 4);
    PutLe(out, entry.Name.size(), 2);
    out += entry.Name;
    PutLe(out, entry.Size, 8);
    PutLe(out, entry.Offset, 8);
    out.append(reinterpret_cast<const char*>(entry.Sha256.data()), entry.Sha256.size());
  }
  return out;
}

bool ReadManifest(std::string_view bytes, std::uint64_t file_size, TPackageManifest& manifest, std::string& failure) {
  manifest.Entries.clear();
  failure.clear();
  Cursor cursor(bytes);
  std::string_view magic;
  std::uint64_t format = 0, count = 0;
  if (!cursor.Take(sizeof kMagic, magic) || std::memcmp(magic.data(), kMagic, sizeof kMagic) != 0 ||
      !cursor.Le(4, format) || !cursor.Le(4, count)) {
    failure = "это не опись пакета";
    return false;
  }
  if (format != kFormat) {
    failure = "неизвестный формат описи " + std::to_string(format);
    return false;
  }
  // Every entry takes its fixed part at least: a count the bytes cannot
  // hold is refused before anything is reserved for it.
  if (count > cursor.Left() / kFixedEntrySize) {
    failure = "опись обрывается";
    return false;
  }
  std::set<std::string> seen;
  manifest.Entries.resize(static_cast<std::size_t>(count));
  for (TManifestEntry& entry : manifest.Entries) {
    if (!ReadEntry(cursor, file_size, entry, failure)) break;
    if (!seen.insert(ManifestKey(entry.Name)).second) failure = "файл указан дважды: " + entry.Name;
    if (!failure.empty()) break;
  }
  if (failure.empty() && cursor.Left() != 0) failure = "лишние байты после описи";
  if (!failure.empty()) manifest.Entries.clear();
  return failure.empty();
}

std::uint32_t ExecutableFlag(const std::string& path) {
  platform::FileEntry entry;
  return FolderEntryOf(path, entry) && (entry.PosixMode & 0111) != 0 ? kManifestExecutable : 0;
}

}  // namespace volok
