// The worker's construction for a package with a large payload: reading and
// decrypting the description and checking every payload file's CRC-32.
//
//   bench_startup make <package folder>   writes "setup.xml" for the files
//                                         already in the folder (sizes and CRCs)
//                                         and a stand-in "setup.exe" sealed with
//                                         their manifest ("setup.record" keeps
//                                         the record its image would carry)
//   bench_startup run <package folder>    constructs TInstallerThread as
//                                         "setup.exe" in that folder, which
//                                         checks every file against the manifest
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_paths.h"
#include "common/app_paths.h"
#include "common/crc32.h"
#include "common/crypt.h"
#include "common/file_digest.h"
#include "common/manifest_record.h"
#include "common/package_manifest.h"
#include "platform/file_system.h"
#include "common/text_file.h"
#include "engine/installer_thread.h"

namespace {

namespace fs = std::filesystem;

std::string Hex(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
  return text;
}

std::string Entry(const std::string& name, std::uint32_t size, std::uint32_t crc) {
  return "<File><Name>" + name + "</Name><FileName>" + name + "</FileName><Action>Copy</Action>"
         "<Destination>{InstallPath}</Destination><Size>" + std::to_string(size) + "</Size><CRC32>" + Hex(crc) +
         "</CRC32></File>";
}

volok::TManifestEntry ManifestEntry(const std::string& name, const fs::path& file) {
  std::unique_ptr<volok::platform::File> handle;
  volok::TFileDigest digest;
  if (!volok::platform::FileSystem::Default()
           .OpenFile(bench::EnginePath(file), volok::platform::FileAccess::ReadExisting,
                     volok::platform::FileShare::Read, handle)
           .ok() ||
      !volok::StreamDigest(*handle, digest))
    throw std::runtime_error("cannot read " + file.string());
  volok::TManifestEntry entry;
  entry.Name = name;
  entry.Size = digest.Size;
  entry.Sha256 = digest.Sha256;
  return entry;
}

// The stand-in engine sealed as the builder seals a real one.
void Seal(const fs::path& folder, const std::vector<std::string>& names) {
  volok::TPackageManifest manifest;
  for (const std::string& name : names) manifest.Entries.push_back(ManifestEntry(name, folder / name));
  const std::string blob = volok::WriteManifest(manifest), engine = "bench stand-in engine\n";
  volok::TManifestRecord record;
  record.Offset = engine.size();
  record.Length = blob.size();
  record.Sha256 = volok::BytesDigest(blob).Sha256;
  volok::WriteFileBytes(engine + blob, bench::EnginePath(folder / "setup.exe"));
  volok::WriteFileBytes(volok::EncodeManifestRecord(record), bench::EnginePath(folder / "setup.record"));
}

int Make(const fs::path& folder) {
  std::string entries;
  std::vector<std::string> names = {"setup.xml"};
  for (const fs::directory_entry& file : fs::directory_iterator(folder)) {
    std::string name = file.path().filename().string();
    if (!file.is_regular_file() || name.rfind("setup.", 0) == 0) continue;
    std::uint32_t crc = 0;
    if (!volok::FileCrc32(bench::EnginePath(file.path()), crc)) return 1;
    entries += Entry(name, static_cast<std::uint32_t>(file.file_size()), crc);
    names.push_back(name);
  }
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?><Installer><Number>1.0.0.0</Number>"
                    "<Company>Bench</Company><Name>Bench</Name><ShortName>VolokBench</ShortName>"
                    "<InstallPath>C:\\Bench</InstallPath><Install>" + entries + "</Install></Installer>";
  volok::WriteTextFile(volok::EncryptText(xml), bench::EnginePath(folder / "setup.xml"), 65001);
  Seal(folder, names);
  return 0;
}

int Run(const fs::path& folder) {
  volok::SetExeFileName(bench::EnginePath(folder / "setup.exe"));
  volok::TManifestRecord record;
  if (!volok::DecodeManifestRecord(volok::ReadFileBytes(bench::EnginePath(folder / "setup.record")), record))
    throw std::runtime_error("no setup.record: run make first");
  volok::ScopedManifestRecord sealed(record);
  bench::Clock::time_point start = bench::Clock::now();
  volok::TInstallerThread worker;
  bench::ReportSeconds(bench::SecondsSince(start));
  if (!worker.Error()) return 0;
  std::fprintf(stderr, "%s\n", worker.Message().c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc == 3 ? argv[1] : "";
  try {
    if (mode == "make") return Make(argv[2]);
    if (mode == "run") return Run(argv[2]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::fprintf(stderr, "usage: bench_startup make|run <package folder>\n");
  return 2;
}
