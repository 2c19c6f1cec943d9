// The file commands: unpack the payload, copy files, copy or rewrite text
// files with placeholders replaced, delete files and folders.
#include "archive/archive_password.h"
#include "archive/zip_reader.h"
#include "common/app_paths.h"
#include "common/error.h"
#include "common/file_utils.h"
#include "common/text.h"
#include "common/text_file.h"
#include "engine/installer_thread.h"
#include "engine/run_recovery.h"
#include "platform/file_system.h"

namespace volok {

namespace {

constexpr unsigned kTextCodePage = 1251;
const std::string kDeleteRefused = "[Delete] Путь защищён, удаление пропущено: ";

void RequireSource(const std::string& source) {
  if (source.empty() || !platform::FileSystem::Default().FileExists(source))
    throw volok::Error("[CopyFile] Исходный файл не найден: " + source + ".");
}

}  // namespace

void TInstallerThread::JournalTarget(const std::string& target) {
  // The folder rollback covers the install folder during an install.
  if (FJournal && !FJournal->State().Folder.empty() &&
      (FUnInstaller || !PathWithin(target, FInstall->InstallPath())))
    JournalWrite(*FJournal, target);
}

void TInstallerThread::CopyWithWarning(const std::string& source, const std::string& target) {
  RequireSource(source);
  JournalTarget(target);
  // Descriptions rely on a failed copy not stopping the run, but the user
  // must still learn that the file is not there.
  if (!platform::FileSystem::Default().CopyFileOver(source, target).ok())
    DoMessage("[Copy]: Не удалось скопировать файл: " + source + " -> " + target, kMessageWarning, false);
}

void TInstallerThread::CopyCommand(TInstallFile& file) {
  DoMessage("[Copy]: Копирование файла: " + file.FileName(), kMessageTrace, false);
  std::string target = IncludeTrailingDelimiter(file.Destination()) + file.FileName();
  platform::File& checked = PackageFile(file.FileName());
  RequireTargetFolder(ExtractFilePath(target));
  JournalTarget(target);
  if (!CopyChecked(checked, ExeFolder() + file.FileName(), target).ok()) {
    DoMessage("[Copy]: Не удалось скопировать файл: " + ExeFolder() + file.FileName() + " -> " + target,
              kMessageWarning, false);
    return;
  }
  // A single file keeps no modes of its own: the manifest tells a program.
  const TManifestEntry* entry = FPackage->Manifest().Find(file.FileName());
  if (entry && entry->Executable()) (void)platform::FileSystem::Default().SetExecuteBits(target, 0111);
}

platform::Status CopyChecked(platform::File& file, const std::string& source, const std::string& target) {
  auto& fs = platform::FileSystem::Default();
  std::uint32_t attributes = 0;
  if (fs.GetAttributes(target, attributes).ok() &&
      (attributes & (platform::FileAttribute::ReadOnly | platform::FileAttribute::Hidden |
                     platform::FileAttribute::Directory)) != 0)
    return platform::Status::Failure("Отказано в доступе: " + target);
  std::unique_ptr<platform::File> out;
  if (platform::Status opened = fs.OpenFile(target, platform::FileAccess::CreateAlways, platform::FileShare::None, out);
      !opened.ok())
    return opened;
  std::string buffer(1 << 20, '\0');
  std::uint64_t at = 0;
  for (;;) {
    std::size_t done = 0;
    if (platform::Status read = file.ReadAt(at, buffer.data(), buffer.size(), done); !read.ok()) return read;
    if (done == 0) break;
    if (platform::Status written = out->Write(buffer.data(), done); !written.ok()) return written;
    at += done;
  }
  out.reset();
  platform::FileTime time = 0;
  if (fs.GetLastWriteTime(source, time).ok()) (void)fs.SetLastWriteTime(target, time);
  if (platform::FileEntry entry; FolderEntryOf(source, entry)) {
    (void)fs.SetExecuteBits(target, entry.PosixMode);
    (void)fs.SetAttributes(target, entry.Attributes);
  }
  return platform::Status::Ok();
}

platform::File& TInstallerThread::PackageFile(const std::string& name) const {
  platform::File* file = FPackage->Find(name);
  if (!file) throw volok::Error(kChecksumMessage);
  return *file;
}

bool IsPackageCommand(const std::string& action) {
  const std::string lower = LowerCase(action);
  return lower == "unzip" || lower == "copy" || lower == "copytext";
}

std::string PackageName(const std::string& file_name) {
  const bool absolute =
      (!file_name.empty() && file_name[0] == '\\') || (file_name.size() >= 2 && file_name[1] == ':');
  if (!absolute) return file_name;
  // An absolute name into the package folder is still a package file.
  const std::string folder = ExeFolder();
  if (file_name.size() > folder.size() && LowerCase(file_name.substr(0, folder.size())) == LowerCase(folder))
    return file_name.substr(folder.size());
  return {};
}

void TInstallerThread::RequireTargetFolder(const std::string& folder) {
  auto& fs = platform::FileSystem::Default();
  if (folder.empty() || fs.FolderExists(folder)) return;
  // Folders are made only inside the install folder, which the install
  // owns; anywhere else a missing folder is the description's mistake, and
  // the file would silently not arrive.
  int index = FVars.Find("InstallPath");
  std::string install = index < 0 ? std::string() : FVars.Variables()[static_cast<std::size_t>(index)].Value;
  std::string root = LowerCase(IncludeTrailingDelimiter(install));
  bool inside = !install.empty() && LowerCase(IncludeTrailingDelimiter(folder)).rfind(root, 0) == 0 &&
                folder.find("..") == std::string::npos;
  if (!inside) throw volok::Error("[Copy]: Папка назначения не существует: " + folder + ".");
  if (!ForceFolders(folder)) throw volok::Error("[Copy]: Не удалось создать папку: " + folder + ".");
}

void TInstallerThread::Copy2Command(TInstallFile& file) {
  DoMessage("[Copy]: Копирование файла: " + file.FileName(), kMessageTrace, false);
  CopyWithWarning(file.FileName(), file.Destination());
}

void TInstallerThread::CopyTextCommand(TInstallFile& file) {
  DoMessage("[CopyText]: Копирование файла с обработкой: " + file.FileName(), kMessageTrace, false);
  (void)PackageFile(file.FileName());
  std::string text = DecodeText(FPackage->ReadAll(file.FileName()));
  FVars.Process(text);
  const std::string target = IncludeTrailingDelimiter(file.Destination()) + file.FileName();
  JournalTarget(target);
  WriteTextFile(text, target, kTextCodePage);
}

void TInstallerThread::ProcessTextCommand(TInstallFile& file) {
  DoMessage("[ProcessText]: Обработка файла: " + file.FileName(), kMessageTrace, false);
  RequireSource(file.FileName());
  std::string text = ReadTextFile(file.FileName());
  FVars.Process(text);
  JournalTarget(file.FileName());
  WriteTextFile(text, file.FileName(), kTextCodePage);
}

void TInstallerThread::UnZipCommand(TInstallFile& file) {
  DoMessage("[UnZip] Распаковка: Файл: " + file.FileName() + ", Папка: " + file.Destination(), kMessageTrace, false);
  ZipReader reader;
  try {
    // An empty destination would otherwise unpack into the current folder.
    if (file.Destination().empty()) throw volok::Error("Unable to create directory");
    (void)ForceFolders(file.Destination());
    // A package file is read through the handle it was checked by; an
    // archive the description names outside the package, as it lies.
    const std::string name = PackageName(file.FileName());
    if (name.empty())
      reader.Open(file.FileName());
    else
      reader.Open(std::make_unique<platform::BorrowedFile>(PackageFile(name)), file.FileName());
    reader.RequireEncryption();
    reader.SetPassword(std::string(ArchivePassword));
    reader.SetBaseFolder(file.Destination());
    std::size_t extracted = reader.ExtractFiles("*.*");
    std::size_t count = reader.Count();
    std::string report = "[UnZip] Файлов в архиве: " + std::to_string(count) + "\r\n";
    for (std::size_t i = 0; i < count; ++i) report += "[UnZip] Файл: " + reader.Item(i).FName + "\r\n";
    for (const std::string& refusal : reader.Refusals()) report += "[UnZip] " + refusal + "\r\n";
    report += "[UnZip] Распаковано: " + std::to_string(extracted);
    DoMessage(report, kMessageTrace, false);
    if (extracted != count)
      throw volok::Error("Не все файлы распакованы. Распаковано " + std::to_string(extracted) + " из " +
                         std::to_string(count) + ".");
  } catch (...) {
    throw volok::Error("[UnZip] Ошибка распаковки файлов: " + CurrentExceptionMessage());
  }
}

void TInstallerThread::DeleteFileCommand(TInstallFile& file) {
  DoMessage("[DeleteFile] Удаление файла: " + file.FileName(), kMessageTrace, false);
  DeletePath(file.FileName());
}

void TInstallerThread::DeleteFolderCommand(TInstallFile& file) {
  DoMessage("[DeleteFolder] Удаление папки: " + file.FileName(), kMessageTrace, false);
  DeletePath(file.FileName());
}

void TInstallerThread::DeletePath(const std::string& path) {
  const std::string mask = ExtractFileName(path);
  if (!HasWildcard(mask)) {
    DeleteGuarded({path});
    return;
  }
  // A mask is expanded here, the same on both platforms, inside its own
  // folder only, and only in a folder an install could own: "C:\*" or
  // "{AppData}\*" must delete nothing.
  const std::string folder = ExtractFilePath(path);
  std::string full;
  try {
    if (HasWildcard(folder)) throw volok::Error(path);
    full = IncludeTrailingDelimiter(DeleteGuard().ResolveInstallFolder(folder));
  } catch (const volok::Error&) {
    DoMessage(kDeleteRefused + path, kMessageWarning, false);
    return;
  }
  std::vector<platform::FileEntry> entries;
  if (!platform::FileSystem::Default().ListFolder(full, entries).ok()) return;
  // Each match passes the guard as the entry named it, so a ".." in the
  // folder keeps its meaning. What this run already moved aside is not
  // matched again.
  const std::string run_id = FJournal ? FJournal->State().RunId : std::string();
  std::vector<std::string> matches;
  for (const platform::FileEntry& entry : entries)
    if (MatchesMask(entry.Name, mask) && !IsAsideName(entry.Name, run_id)) matches.push_back(folder + entry.Name);
  DeleteGuarded(matches);
}

const TFolderGuard& TInstallerThread::DeleteGuard() {
  if (!FDeleteGuard) FDeleteGuard = std::make_unique<TFolderGuard>(GuardedFolders());
  return *FDeleteGuard;
}

void TInstallerThread::DeleteGuarded(const std::vector<std::string>& paths) {
  auto& files = platform::FileSystem::Default();
  const std::string install = ExcludeTrailingDelimiter(FInstall->InstallPath());
  const std::string staging = FJournal && !FJournal->State().Staging.empty()
                                  ? IncludeTrailingDelimiter(install) + FJournal->State().Staging
                                  : std::string();
  auto within = PathWithin;
  std::vector<std::string> aside, in_place;
  for (const std::string& path : paths) {
    std::string identity;
    // An install never deletes its own folder or the earlier version it keeps.
    if (!DeleteGuard().MayDelete(path, FInstall->InstallPath(), identity) ||
        (!FUnInstaller && (LowerCase(identity) == LowerCase(install) || within(identity, staging)))) {
      DoMessage(kDeleteRefused + path, kMessageWarning, false);
      continue;
    }
    if (!PathPresent(identity)) continue;
    // What an install wrote into its folder is its own and goes at once;
    // anything else waits, moved aside, until the run commits.
    (FJournal && (FUnInstaller || !within(identity, install)) ? aside : in_place).push_back(identity);
  }
  if (!aside.empty()) {
    std::vector<std::string> refused = MoveAsideJournalled(*FJournal, aside);
    in_place.insert(in_place.end(), refused.begin(), refused.end());
  }
  for (const std::string& identity : in_place)
    if (!DeleteFolder(identity, true) && FUnInstaller && files.KindOf(identity) != platform::FileKind::Missing)
      RecordLeftOver(identity);
}

void TInstallerThread::RecordLeftOver(const std::string& path) { ScheduleAtRestart(path, FLeftAtRestart, FLeftForGood); }

std::string ListedPaths(const std::vector<std::string>& paths) {
  constexpr std::size_t kShown = 20;
  std::string text;
  for (std::size_t i = 0; i < paths.size() && i < kShown; ++i) text += (i ? ", " : "") + paths[i];
  if (paths.size() > kShown) text += " и ещё " + std::to_string(paths.size() - kShown);
  return text;
}

void TInstallerThread::ReportLeftOvers() {
  if (!FLeftForGood.empty()) throw volok::Error("Не удалось удалить: " + ListedPaths(FLeftForGood) + ".");
  if (FLeftAtRestart.empty()) return;
  ReportAtRestart(FLeftAtRestart);
  FRestartNeeded = true;
}

void TInstallerThread::ReportAtRestart(const std::vector<std::string>& paths) {
  const std::string step = FUnInstaller ? "[UnInstall] " : "[Install] ";
  // Each one named, so whoever reads the log knows what the restart takes.
  for (const std::string& path : paths) DoMessage(step + "Будет удалено после перезагрузки: " + path, kMessageTrace, false);
  DoMessage(step + "Файлы заняты и будут удалены после перезагрузки: " + ListedPaths(paths), kMessageWarning, false);
}

}  // namespace volok
