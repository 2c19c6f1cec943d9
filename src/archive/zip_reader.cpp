#include "archive/zip_reader.h"

#include <thread>

#include "archive/zip_directory.h"
#include "archive/zip_extraction.h"
#include "archive/zip_links.h"
#include "archive/zip_names.h"
#include "common/file_utils.h"
#include "common/error.h"

namespace volok {

namespace {

using archive::ZipItemInfo;
using platform::FileSystem;

std::string MaskName(const ZipItemInfo& item) {
  std::string name = item.FName;
  if (!name.empty() && name.back() == '/') name.pop_back();
  return name;
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
  Open(std::move(file), file_name);
}

void ZipReader::Open(std::unique_ptr<platform::File> file, const std::string&) {
  FArchive.reset();
  FItems.clear();
  archive::ZipDirectory directory = archive::ReadZipDirectory(*file);
  FItems = std::move(directory.FItems);
  FDataLimit = directory.FDirectoryOffset;
  FArchive = std::move(file);
}

void ZipReader::RequireEncryption() const {
  for (const ZipItemInfo& item : FItems)
    if (!item.IsFolder() && !item.IsEncrypted()) throw Error("Архив не зашифрован: " + item.FName);
}

void ZipReader::SetBaseFolder(const std::string& folder) {
  std::string base = folder;
  if (base.size() > 1 && base.back() == '\\' && base[base.size() - 2] != ':') base.pop_back();
  if (base.empty() || !FileSystem::Default().FolderExists(base))
    throw Error("Папка для распаковки не найдена: " + folder);
  FBaseFolder = base;
}

unsigned ZipReader::ThreadsFor(const std::string& mask) const {
  unsigned threads = FThreadCount ? FThreadCount : std::thread::hardware_concurrency();
  // No more workers than files to write: a lone file runs on this thread.
  std::size_t files = 0;
  for (const ZipItemInfo& item : FItems) {
    if (files >= threads) break;
    if (!item.IsFolder() && MatchesMask(MaskName(item), mask)) ++files;
  }
  return static_cast<unsigned>(files);
}

std::size_t ZipReader::ExtractFiles(const std::string& mask) {
  if (!FArchive) throw Error("Архив не открыт");
  if (FBaseFolder.empty()) throw Error("Не задана папка для распаковки");
  FExtracted = 0;
  FRefusals.clear();
  archive::ZipItemSource source{*FArchive, FDataLimit, FPassword};
  archive::ZipExtraction extraction(source, ThreadsFor(mask));
  archive::ZipLinkRestorer links(source, FBaseFolder);
  for (const ZipItemInfo& item : FItems) {
    if (!MatchesMask(MaskName(item), mask)) continue;
    std::optional<std::string> target = archive::TargetPath(FBaseFolder, item.FName);
    if (!target) continue;  // would land outside the base folder
    if (archive::IsLinkItem(item)) {
      links.Add(item, *target);
      continue;
    }
    if (!extraction.Extract(item, *target)) {
      FExtracted = extraction.Finish();
      throw Error("Не удалось создать папку " + extraction.FailedFolder());
    }
  }
  FExtracted = extraction.Finish();
  FExtracted += links.Restore();
  FRefusals = links.Refusals();
  return FExtracted;
}

}  // namespace volok
