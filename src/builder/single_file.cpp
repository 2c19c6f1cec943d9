#include "builder/single_file.h"

#include <memory>

#include "builder/engine_image.h"
#include "common/error.h"
#include "common/file_digest.h"
#include "common/package_layout.h"
#include "common/text_file.h"
#include "platform/file_system.h"

namespace volok {

namespace {

using platform::File;
using platform::FileSystem;

[[noreturn]] void FailWrite(const std::string& path) {
  throw Error("Не удалось записать установщик одним файлом: " + path + ".");
}

// Appends `file` to `out`, answering its entry at `offset`.
TManifestEntry Attach(const TAttachedFile& file, std::uint64_t offset, File& out) {
  std::unique_ptr<File> source;
  TFileDigest digest;
  if (!FileSystem::Default().OpenFile(file.Path, platform::FileAccess::ReadExisting, platform::FileShare::Read, source)
           .ok() ||
      !StreamDigest(*source, digest, &out))
    throw Error("Не удалось прочитать файл пакета: " + file.Path + ".");
  TManifestEntry entry;
  entry.Name = file.Name;
  entry.Flags = kManifestAttached | ExecutableFlag(file.Path);
  entry.Offset = offset;
  entry.Size = digest.Size;
  entry.Sha256 = digest.Sha256;
  return entry;
}

// The image's two parts around its record, as the manifest names them.
void AddImage(const std::string& image, std::uint64_t record_offset, TPackageManifest& manifest) {
  TManifestEntry head, tail;
  head.Name = kImageHeadEntry;
  head.Size = record_offset;
  head.Sha256 = ImageHeadDigest(image.substr(0, static_cast<std::size_t>(record_offset)));
  tail.Name = kImageTailEntry;
  tail.Offset = record_offset + kManifestRecordSize;
  tail.Size = image.size() - tail.Offset;
  tail.Sha256 = BytesDigest(image.substr(static_cast<std::size_t>(tail.Offset))).Sha256;
  for (TManifestEntry* entry : {&head, &tail}) {
    entry->Flags = kManifestAttached;
    manifest.Entries.push_back(*entry);
  }
}

TManifestRecord WriteParts(const std::string& image, std::uint64_t record_offset,
                           const std::vector<TAttachedFile>& files, File& out, const std::string& target) {
  if (!out.Write(image.data(), image.size()).ok()) FailWrite(target);
  TPackageManifest manifest;
  AddImage(image, record_offset, manifest);
  std::uint64_t at = image.size();
  for (const TAttachedFile& file : files) {
    manifest.Entries.push_back(Attach(file, at, out));
    at += manifest.Entries.back().Size;
  }
  const std::string blob = WriteManifest(manifest);
  TManifestRecord record;
  record.Offset = at;
  record.Length = blob.size();
  record.Sha256 = BytesDigest(blob).Sha256;
  const std::string encoded = EncodeManifestRecord(record);
  if (!out.Write(blob.data(), blob.size()).ok() || !out.Seek(record_offset).ok() ||
      !out.Write(encoded.data(), encoded.size()).ok() || !out.Flush().ok())
    FailWrite(target);
  return record;
}

}  // namespace

TManifestRecord WriteSingleFile(const std::string& engine, const std::vector<TAttachedFile>& files,
                                const std::string& target) {
  const std::string image = ReadFileBytes(engine);
  const std::uint64_t record_offset = BareRecordOffset(image);
  std::unique_ptr<File> out;
  if (!FileSystem::Default().OpenFile(target, platform::FileAccess::CreateAlways, platform::FileShare::None, out).ok())
    FailWrite(target);
  try {
    return WriteParts(image, record_offset, files, *out, target);
  } catch (...) {
    out.reset();
    (void)FileSystem::Default().RemoveFile(target);
    throw;
  }
}

std::string SingleFileName(const std::string& short_name, const std::string& version) {
  std::string name;
  for (unsigned char c : short_name)
    if (c >= 0x20 && std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) == std::string_view::npos)
      name += static_cast<char>(c);
  // Windows drops trailing dots and blanks from a name.
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  return (name.empty() ? std::string("setup") : name) + "-" + version + "-setup.exe";
}

}  // namespace volok
