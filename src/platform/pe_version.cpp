#include "platform/pe_version.h"

#include <array>
#include <vector>

namespace volok::platform {

namespace {

constexpr std::uint32_t kResourceTypeVersion = 16;  // RT_VERSION
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::size_t kFixedInfoSize = 52;
constexpr std::size_t kMaxSections = 96;  // the loader's own limit

std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

struct Section {
  std::uint32_t VirtualAddress;
  std::uint32_t RawSize;
  std::uint32_t RawOffset;
};

class PeImage {
 public:
  PeImage(const PeReadAt& read, std::uint64_t size) : FRead(read), FSize(size) {}

  bool Read(std::uint64_t offset, void* buffer, std::size_t size) const {
    return offset <= FSize && size <= FSize - offset && FRead(offset, buffer, size);
  }

  // Finds the resource directory: its file offset and its RVA.
  bool OpenResources() {
    unsigned char dos[64];
    if (!Read(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    std::uint64_t pe = Le32(dos + 0x3C);
    unsigned char header[24];
    if (!Read(pe, header, sizeof header) || Le32(header) != 0x00004550) return false;
    std::uint16_t sections = Le16(header + 6);
    std::uint16_t optional_size = Le16(header + 20);
    std::uint64_t optional = pe + sizeof header;
    if (!ReadResourceDirectoryEntry(optional, optional_size)) return false;
    return ReadSections(optional + optional_size, sections) && ToOffset(FResourceRva, FResourceOffset);
  }

  // The file offset of an RVA inside a section's raw data.
  bool ToOffset(std::uint32_t rva, std::uint64_t& offset) const {
    for (const Section& s : FSections) {
      if (rva >= s.VirtualAddress && rva - s.VirtualAddress < s.RawSize) {
        offset = static_cast<std::uint64_t>(s.RawOffset) + (rva - s.VirtualAddress);
        return true;
      }
    }
    return false;
  }

  std::uint64_t ResourceOffset() const { return FResourceOffset; }

 private:
  bool ReadResourceDirectoryEntry(std::uint64_t optional, std::uint16_t optional_size) {
    unsigned char magic[2];
    if (!Read(optional, magic, 2)) return false;
    std::uint16_t kind = Le16(magic);
    // PE32 and PE32+ differ in where the data directories begin.
    std::uint64_t count_at = kind == 0x10B ? 92 : kind == 0x20B ? 108 : 0;
    if (count_at == 0 || optional_size < count_at + 4 + 3 * 8) return false;
    unsigned char count[4];
    if (!Read(optional + count_at, count, 4) || Le32(count) < 3) return false;
    unsigned char entry[8];
    if (!Read(optional + count_at + 4 + 2 * 8, entry, 8)) return false;
    FResourceRva = Le32(entry);
    return FResourceRva != 0 && Le32(entry + 4) != 0;
  }

  bool ReadSections(std::uint64_t table, std::uint16_t count) {
    if (count == 0 || count > kMaxSections) return false;
    for (std::uint16_t i = 0; i < count; ++i) {
      unsigned char header[40];
      if (!Read(table + 40ull * i, header, sizeof header)) return false;
      FSections.push_back({Le32(header + 12), Le32(header + 16), Le32(header + 20)});
    }
    return true;
  }

  const PeReadAt& FRead;
  std::uint64_t FSize;
  std::vector<Section> FSections;
  std::uint32_t FResourceRva = 0;
  std::uint64_t FResourceOffset = 0;
};

enum class Pick { Exactly, Preferably, First };

// One level of the resource tree: the entry named `id` (Exactly), that entry
// or else the first (Preferably), or the first entry (First); only entries
// of the level's kind (sub-directory or data) count. `next` is relative to
// the resource directory's start.
bool PickEntry(const PeImage& image, std::uint32_t directory, Pick pick, std::uint32_t id, bool want_directory,
               std::uint32_t& next) {
  unsigned char header[16];
  if (!image.Read(image.ResourceOffset() + directory, header, sizeof header)) return false;
  std::uint32_t total = static_cast<std::uint32_t>(Le16(header + 12)) + Le16(header + 14);
  bool found = false;
  for (std::uint32_t i = 0; i < total; ++i) {
    unsigned char entry[8];
    if (!image.Read(image.ResourceOffset() + directory + 16 + 8ull * i, entry, 8)) return false;
    std::uint32_t name = Le32(entry), target = Le32(entry + 4);
    if (((target & 0x80000000u) != 0) != want_directory) continue;
    // A name with the high bit set is a string, never a numeric id.
    bool matches = pick != Pick::First && name == id;
    if (matches || (pick != Pick::Exactly && !found)) {
      next = target & 0x7FFFFFFFu;
      found = true;
    }
    if (matches || pick == Pick::First) break;
  }
  return found;
}

bool ReadFixedInfo(const PeImage& image, std::uint64_t offset, std::uint32_t size, FixedFileVersion& version) {
  // VS_VERSIONINFO: three WORDs, the key "VS_VERSION_INFO" in UTF-16 with its
  // terminator, padding to a DWORD boundary, then VS_FIXEDFILEINFO.
  constexpr std::size_t kValueAt = 40;
  if (size < kValueAt + kFixedInfoSize) return false;
  std::array<unsigned char, kValueAt + kFixedInfoSize> block{};
  if (!image.Read(offset, block.data(), block.size())) return false;
  if (Le16(block.data() + 2) < kFixedInfoSize) return false;
  const char key[] = "VS_VERSION_INFO";
  for (std::size_t i = 0; i < sizeof key; ++i)
    if (Le16(block.data() + 6 + 2 * i) != static_cast<unsigned char>(key[i])) return false;
  const unsigned char* fixed = block.data() + kValueAt;
  if (Le32(fixed) != kFixedInfoSignature) return false;
  version.FileVersionMS = Le32(fixed + 8);
  version.FileVersionLS = Le32(fixed + 12);
  version.ProductVersionMS = Le32(fixed + 16);
  version.ProductVersionLS = Le32(fixed + 20);
  return true;
}

}  // namespace

bool FindPeFixedFileVersion(const PeReadAt& read, std::uint64_t image_size, FixedFileVersion& version) {
  PeImage image(read, image_size);
  if (!image.OpenResources()) return false;
  constexpr std::uint32_t kVersionInfoName = 1;  // VS_VERSION_INFO
  std::uint32_t names = 0, languages = 0, data_entry = 0;
  if (!PickEntry(image, 0, Pick::Exactly, kResourceTypeVersion, true, names) ||
      !PickEntry(image, names, Pick::Preferably, kVersionInfoName, true, languages) ||
      !PickEntry(image, languages, Pick::First, 0, false, data_entry))
    return false;
  unsigned char data[16];
  std::uint64_t offset = 0;
  if (!image.Read(image.ResourceOffset() + data_entry, data, sizeof data) || !image.ToOffset(Le32(data), offset))
    return false;
  return ReadFixedInfo(image, offset, Le32(data + 4), version);
}

}  // namespace volok::platform
