#include "archive/zip_writer.h"

#include <algorithm>
#include <unordered_map>

#include "archive/zip_links.h"
#include "archive/zip_names.h"
#include "common/file_utils.h"
#include "common/error.h"
#include "common/file_names.h"
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

// Refuses, before any file is opened, what the archive cannot carry to
// Windows as it stands: a FIFO, socket or device (reading one could block
// the build for ever), a dangling link, a name Windows cannot hold, two
// names Windows would take for one.
void CheckEntries(const std::string& folder, const std::vector<FileEntry>& entries, std::uint32_t filter) {
  std::unordered_map<std::string, const std::string*> seen;
  for (const FileEntry& entry : entries) {
    if (!PassesFilter(entry, filter)) continue;
    std::string path = Join(folder, entry.Name);
    if (entry.IsSpecial) throw Error(NotFileOrFolderMessage(path));
    if (!IsWindowsFileName(entry.Name)) throw Error("Имя недопустимо в Windows: " + path + ".");
    auto [other, added] = seen.try_emplace(LowerCase(entry.Name), &entry.Name);
    if (!added)
      throw Error("Имена различаются только регистром: " + Join(folder, *other->second) + ", " + path + ".");
  }
}

// A link inside the packed folder stays a link, as "zip --symlinks" keeps
// it; one that leads elsewhere would be refused by every install, so the
// build refuses it first.
void KeepLink(ZipSource& source) {
  ThrowIfFailed(FileSystem::Default().ReadSymbolicLink(source.FPath, source.FLinkText));
  if (source.FFolder) source.FName.pop_back();  // a link to a folder is no folder item
  if (source.FLinkText.empty() || !archive::LinkTargetName(source.FName, source.FLinkText))
    throw Error("Ссылка ведёт за пределы архивируемой папки: " + source.FPath + " -> " + source.FLinkText + ".");
  source.FFolder = false;
  source.FAttributes &= ~archive::AttributeDirectory;
  source.FPosixMode = archive::PosixLinkMode;
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
  CheckEntries(folder, entries, filter);
  // The system lists a folder in any order it likes; sorted, the same folder
  // packs to the same archive wherever it lies.
  std::sort(entries.begin(), entries.end(),
            [](const FileEntry& a, const FileEntry& b) { return a.Name < b.Name; });
  for (const FileEntry& entry : entries) {
    if (!PassesFilter(entry, filter) || !MatchesMask(entry.Name, mask)) continue;
    std::string path = Join(folder, entry.Name);
    if (!entry.IsFolder && !FFullFileName.empty() && SameText(FullPathOrSame(path), FFullFileName)) continue;
    ZipSource source;
    source.FPath = path;
    source.FName = archive::StoredName(Join(relative, entry.Name), entry.IsFolder);
    source.FFolder = entry.IsFolder;
    source.FAttributes = entry.Attributes;
    source.FLastWriteTime = FFixedTime != 0 ? FFixedTime : entry.LastWriteTime;
    source.FPosixMode = entry.PosixMode;
    if (entry.IsLink) KeepLink(source);
    AddSource(std::move(source));
  }
  for (const FileEntry& entry : entries) {
    if (entry.IsFolder && !entry.IsLink && PassesFilter(entry, filter))
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
