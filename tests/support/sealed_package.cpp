#include "sealed_package.h"

#include <filesystem>

#include "common/app_paths.h"
#include "common/file_digest.h"
#include "common/package_manifest.h"
#include "common/text.h"
#include "temp_folder.h"

namespace volok::testing {

namespace {

namespace fs = std::filesystem;

std::string Utf8(const fs::path& path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

bool LeftOut(const std::string& relative) {
  const std::string lower = LowerCase(relative);
  auto ends = [&](const std::string& tail) {
    return lower.size() >= tail.size() && lower.compare(lower.size() - tail.size(), tail.size(), tail) == 0;
  };
  return lower == "setup.exe" || lower == "uninstall.exe" || lower == "uninstall.xml" || ends(".log");
}

}  // namespace

std::string StandInEngine() {
  auto le = [](std::uint64_t v, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
  };
  const std::string names("\0.volok\0.shstrtab\0", 18);
  std::string image = std::string("\x7F" "ELF\x02\x01\x01", 7) + std::string(9, '\0') + le(2, 2) + le(0x3E, 2) +
                      le(1, 4) + le(0, 8) + le(0, 8) + le(256, 8) + le(0, 4) + le(64, 2) + le(56, 2) + le(0, 2) +
                      le(64, 2) + le(3, 2) + le(2, 2);
  image += "stand-in engine";
  image.resize(128, '\0');
  image += std::string(kManifestRecordMagic) + std::string(kManifestRecordSize - kManifestRecordMagic.size(), '\0');
  image += names;
  image.resize(256, '\0');
  auto section = [&](std::uint32_t name, std::uint32_t type, std::uint64_t offset, std::uint64_t size) {
    return le(name, 4) + le(type, 4) + le(0, 8) + le(0, 8) + le(offset, 8) + le(size, 8) + le(0, 4) + le(0, 4) +
           le(1, 8) + le(0, 8);
  };
  image += std::string(64, '\0') + section(1, 1, 128, kManifestRecordSize) + section(8, 3, 192, names.size());
  return image;
}

std::string StandInPeEngine(unsigned machine) {
  std::string image(0x200, '\0');
  auto put = [&](std::size_t at, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) image[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  image[0] = 'M', image[1] = 'Z';
  put(0x3C, 0x40, 4);
  image.replace(0x40, 4, std::string("PE\0\0", 4));
  put(0x44, machine, 2);
  put(0x46, 1, 2);                          // one section
  put(0x54, 240, 2);                        // PE32+ optional header with 16 directories
  put(0x58, 0x20B, 2);
  put(0x58 + 108, 16, 4);
  image.replace(0x148, 8, std::string(".volok\0\0", 8));
  put(0x148 + 8, kManifestRecordSize, 4);
  put(0x148 + 12, 0x1000, 4);
  put(0x148 + 16, kManifestRecordSize, 4);  // raw size and offset
  put(0x148 + 20, 0x200, 4);
  image += std::string(kManifestRecordMagic) + std::string(kManifestRecordSize - kManifestRecordMagic.size(), '\0');
  return image;
}

std::string Unsealed(const std::string& image) {
  std::size_t at = image.find(kManifestRecordMagic);
  TManifestRecord record;
  if (at == std::string::npos || !DecodeManifestRecord(std::string_view(image).substr(at), record) || record.Empty())
    return image;
  std::string bare = image.substr(0, static_cast<std::size_t>(record.Offset));
  bare.replace(at, kManifestRecordSize,
               std::string(kManifestRecordMagic) + std::string(kManifestRecordSize - kManifestRecordMagic.size(), '\0'));
  return bare;
}

TManifestRecord SealStandIn(const std::string& exe) {
  const fs::path native = TempFolder::NativeOf(exe);
  std::string image = ReadNative(native);
  // A test helper may look for its own mark; the engine never scans.
  if (std::size_t earlier = image.find("VOLOKMAN"); earlier != std::string::npos) image.resize(earlier);
  TPackageManifest manifest;
  for (const fs::directory_entry& item : fs::recursive_directory_iterator(native.parent_path())) {
    if (!item.is_regular_file()) continue;
    std::string relative = Utf8(fs::relative(item.path(), native.parent_path()));
    for (char& c : relative)
      if (c == '/') c = '\\';
    if (relative == Utf8(native.filename()) || LeftOut(relative)) continue;
    TFileDigest digest = BytesDigest(ReadNative(item.path()));
    TManifestEntry entry;
    entry.Name = LowerCase(relative) == LowerCase(Utf8(native.stem()) + ".xml") ? "setup.xml" : relative;
    entry.Size = digest.Size;
    entry.Sha256 = digest.Sha256;
    manifest.Entries.push_back(entry);
  }
  const std::string blob = WriteManifest(manifest);
  TManifestRecord record;
  record.Offset = image.size();
  record.Length = blob.size();
  record.Sha256 = BytesDigest(blob).Sha256;
  WriteNative(native, image + blob);
  return record;
}

ScopedSealing::ScopedSealing() : FRecord([] { return SealStandIn(ExeFileName()); }) {}

}  // namespace volok::testing
