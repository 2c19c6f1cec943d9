#include "archive/zip_reader.h"

#include "archive/zip_directory.h"
#include "archive/zip_item_reader.h"
#include "archive/zip_names.h"
#include "archive/zip_time.h"
#include "common/error.h"
#include "common/file_utils.h"

namespace volok {

namespace {

std::string ParentOf(const std::string& path) {
  std::size_t delimiter = path.find_last_of('\\');
  return delimiter == std::string::npos ? std::string() : path.substr(0, delimiter);
}

using archive::ZipItemInfo;
using platform::FileAttribute::Hidden;
using platform::FileAttribute::ReadOnly;
using platform::FileAttribute::System;
using platform::FileSystem;

constexpr const char* PartialSuffix = ".volok-part";

// The attribute bits an item may carry onto disk.
constexpr std::uint32_t RestoredAttributes = ReadOnly | Hidden | System | platform::FileAttribute::Archive;

std::string MaskName(const ZipItemInfo& item) {
  std::string name = item.FName;
  if (!name.empty() && name.back() == '/') name.pop_back();
  return name;
}

// Prepares an existing target for replacement. A read-only file is refused
// on both platforms alike (POSIX run as root would write it anyway).
// Hidden and System are cleared because CreateFileW with CREATE_ALWAYS
// refuses to replace a file that has them unless asked for the same bits.
bool MakeReplaceable(const std::string& target) {
  FileSystem& fs = FileSystem::Default();
  if (!fs.FileExists(target)) return !fs.FolderExists(target);
  std::uint32_t attributes = 0;
  if (!fs.GetAttributes(target, attributes).ok() || (attributes & ReadOnly)) return false;
  if (attributes & (Hidden | System)) return fs.SetAttributes(target, attributes & ~(Hidden | System)).ok();
  return true;
}

}  // namespace

ZipReader::~ZipReader() = default;

void ZipReader::Open(const std::string& file_name) {
  FArchive.reset();
  FItems.clear();
  std::unique_ptr<platform::File> file;
  platform::Status status = FileSystem::Default().OpenFile(file_name, platform::FileAccess::ReadExisting,
                                                           platform::FileShare::Read, file);
  if (!status.ok()) throw Error("Не удалось открыть архив " + file_name + ": " + status.message());
  archive::ZipDirectory directory = archive::ReadZipDirectory(*file);
  FItems = std::move(directory.FItems);
  FDataLimit = directory.FDirectoryOffset;
  FArchive = std::move(file);
}

void ZipReader::SetBaseFolder(const std::string& folder) {
  std::string base = folder;
  if (base.size() > 1 && base.back() == '\\' && base[base.size() - 2] != ':') base.pop_back();
  if (base.empty() || !FileSystem::Default().FolderExists(base))
    throw Error("Папка для распаковки не найдена: " + folder);
  FBaseFolder = base;
}

std::size_t ZipReader::ExtractFiles(const std::string& mask) {
  if (!FArchive) throw Error("Архив не открыт");
  if (FBaseFolder.empty()) throw Error("Не задана папка для распаковки");
  FExtracted = 0;
  FFolderTimes.clear();
  for (const ZipItemInfo& item : FItems) {
    if (!archive::MatchesMask(MaskName(item), mask)) continue;
    std::optional<std::string> target = archive::TargetPath(FBaseFolder, item.FName);
    if (!target) continue;  // would land outside the base folder
    std::string parent = ParentOf(*target);
    if (!parent.empty() && !ForceFolders(parent)) {
      ApplyFolderTimes();
      throw Error("Не удалось создать папку " + parent);
    }
    if (ExtractItem(item, *target)) ++FExtracted;
  }
  ApplyFolderTimes();
  return FExtracted;
}

bool ZipReader::ExtractItem(const ZipItemInfo& item, const std::string& target) {
  FileSystem& fs = FileSystem::Default();
  std::uint32_t attributes = item.FExternalAttributes & RestoredAttributes;
  if (item.IsFolder()) {
    if (!ForceFolders(target)) return false;
    FFolderTimes.emplace_back(target, item.FDosDateTime);
    return attributes == 0 || fs.SetAttributes(target, attributes).ok();
  }
  if (!ExtractFileData(item, target)) return false;
  // The time first: a read-only file can no longer be opened to set it.
  if (!fs.SetLastWriteTime(target, archive::DosToFileTime(item.FDosDateTime)).ok()) return false;
  return fs.SetAttributes(target, attributes).ok();
}

bool ZipReader::ExtractFileData(const ZipItemInfo& item, const std::string& target) {
  // The data goes to a file beside the target that replaces it only once
  // complete and checked: a wrong password that passes the one-byte check
  // (one in 256) or damaged data never costs the user an existing file.
  FileSystem& fs = FileSystem::Default();
  std::string part = target + PartialSuffix;
  std::unique_ptr<platform::File> file;
  try {
    archive::ZipItemReader reader(*FArchive, FDataLimit, item, FPassword);
    if (!fs.OpenFile(part, platform::FileAccess::CreateAlways, platform::FileShare::None, file).ok()) return false;
    reader.ReadTo([&](std::uint8_t* data, std::size_t size) { ThrowIfFailed(file->Write(data, size)); });
    file.reset();
    if (MakeReplaceable(target) && fs.MoveFileReplace(part, target).ok()) return true;
  } catch (const Error&) {
  }
  file.reset();  // Windows deletes no open file
  (void)fs.RemoveFile(part);
  return false;
}

void ZipReader::ApplyFolderTimes() {
  for (const auto& [folder, dos_time] : FFolderTimes)
    (void)FileSystem::Default().SetLastWriteTime(folder, archive::DosToFileTime(dos_time));
  FFolderTimes.clear();
}

}  // namespace volok
