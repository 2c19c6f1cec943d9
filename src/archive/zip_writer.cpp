#include "archive/zip_writer.h"

#include "archive/zip_names.h"
#include "common/error.h"
#include "common/text.h"

namespace volok {

namespace {

using archive::ZipSource;
using platform::FileEntry;
using platform::FileSystem;

constexpr std::uint32_t FilteredAttributes =
    archive::AttributeHidden | archive::AttributeSystem | archive::AttributeDirectory;

bool PassesFilter(const FileEntry& entry, std::uint32_t filter) {
  std::uint32_t attributes = entry.Attributes | (entry.IsFolder ? archive::AttributeDirectory : 0);
  return (attributes & FilteredAttributes & ~filter) == 0;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '\\') return folder + name;
  return folder + "\\" + name;
}

std::string FullPathOrSame(const std::string& path) {
  std::string full;
  if (FileSystem::Default().FullPath(path, full).ok()) return full;
  return path;
}

}  // namespace

void ZipWriter::SetBaseFolder(const std::string& folder) {
  if (folder.empty() || !FileSystem::Default().FolderExists(folder))
    throw Error("Папка для архивации не найдена: " + folder);
  FBaseFolder = folder;
}

void ZipWriter::AddFiles(const std::string& mask, std::uint32_t attribute_filter) {
  if (FBaseFolder.empty()) throw Error("Не задана папка для архивации");
  FFullFileName = FFileName.empty() ? std::string() : FullPathOrSame(FFileName);
  AddFolder(FBaseFolder, std::string(), mask, attribute_filter);
}

void ZipWriter::AddFolder(const std::string& folder, const std::string& relative, const std::string& mask,
                          std::uint32_t filter) {
  std::vector<FileEntry> entries;
  platform::Status status = FileSystem::Default().ListFolder(folder, entries);
  if (!status.ok()) throw Error("Не удалось прочитать папку " + folder + ": " + status.message());
  for (const FileEntry& entry : entries) {
    if (!PassesFilter(entry, filter) || !archive::MatchesMask(entry.Name, mask)) continue;
    std::string path = Join(folder, entry.Name);
    if (!entry.IsFolder && !FFullFileName.empty() && SameText(FullPathOrSame(path), FFullFileName)) continue;
    ZipSource source;
    source.FPath = path;
    source.FName = archive::StoredName(Join(relative, entry.Name), entry.IsFolder);
    source.FFolder = entry.IsFolder;
    source.FAttributes = entry.Attributes;
    source.FLastWriteTime = entry.LastWriteTime;
    AddSource(std::move(source));
  }
  for (const FileEntry& entry : entries) {
    if (entry.IsFolder && PassesFilter(entry, filter))
      AddFolder(Join(folder, entry.Name), Join(relative, entry.Name), mask, filter);
  }
}

void ZipWriter::AddSource(ZipSource source) {
  auto [found, added] = FIndexByName.try_emplace(LowerCase(source.FName), FSources.size());
  if (added) {
    FSources.push_back(std::move(source));
  } else {
    FSources[found->second] = std::move(source);
  }
}

void ZipWriter::Save() {
  if (FFileName.empty()) throw Error("Не задано имя архива");
  FileSystem& fs = FileSystem::Default();
  std::unique_ptr<platform::File> file;
  platform::Status status =
      fs.OpenFile(FFileName, platform::FileAccess::CreateAlways, platform::FileShare::Read, file);
  if (!status.ok()) throw Error("Не удалось создать архив: " + status.message());
  try {
    archive::ZipPackOptions options;
    options.FThreads = FThreads;
    // Beside the archive: the output folder is known to be writable and on
    // the same volume, where the copy back is cheapest.
    options.FSpillPrefix = FFileName;
    archive::WriteZipArchive(*file, FSources, FPassword, options);
  } catch (...) {
    std::string message = CurrentExceptionMessage();
    file.reset();
    (void)fs.RemoveFile(FFileName);  // an incomplete archive must not pass for a package
    throw Error("Ошибка записи архива " + FFileName + ": " + message);
  }
}

}  // namespace volok
