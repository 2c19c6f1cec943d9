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
