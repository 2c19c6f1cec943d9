#include "engine/upgrade_backup.h"

#include <algorithm>
#include <memory>

#include "common/app_paths.h"

#include "common/error.h"
#include "common/file_utils.h"
#include "common/text_file.h"
#include "platform/file_system.h"

namespace volok {

namespace {

constexpr char kBackupName[] = "Backup";
constexpr char kNoBackup[] = "Невозможно создать каталог для резервного копирования.";
constexpr char kLogName[] = "setup.log";
constexpr char kBom[] = "\xEF\xBB\xBF";

platform::FileSystem& Files() { return platform::FileSystem::Default(); }

std::string FolderName(const std::string& folder) { return ExtractFileName(ExcludeTrailingDelimiter(folder)); }

// Moves the entries named `names` from one folder to another, in order.
// Answers the number moved; stops at the first that fails, saying which and
// why in `failure` when given.
std::size_t MoveEntries(const std::vector<std::string>& names, const std::string& from, const std::string& to,
                        std::string* failure = nullptr) {
  std::size_t moved = 0;
  for (const std::string& name : names) {
    platform::Status status = Files().MoveFileReplace(from + name, to + name);
    if (!status.ok()) {
      if (failure) *failure = "Не удалось переместить \"" + from + name + "\": " + status.message() + ".";
      break;
    }
    ++moved;
  }
  return moved;
}

bool ListNames(const std::string& folder, std::vector<std::string>& names, const std::string& except = {}) {
  std::vector<platform::FileEntry> entries;
  if (!Files().ListFolder(folder, entries).ok()) return false;
  names.clear();
  for (const auto& entry : entries)
    if (entry.Name != except) names.push_back(entry.Name);
  return true;
}

// Appends the failed run's log to the restored one; a restored folder
// without a log gets the failed run's log whole.
bool AppendLog(const std::string& failed_log, const std::string& log) {
  if (!Files().FileExists(failed_log)) return true;
  std::string bytes;
  try {
    bytes = ReadFileBytes(failed_log);
  } catch (const volok::Error&) {
    return false;
  }
  bool existing = Files().FileExists(log);
  if (existing && bytes.rfind(kBom, 0) == 0) bytes.erase(0, 3);
  std::unique_ptr<platform::File> file;
  if (!Files().OpenFile(log, platform::FileAccess::AppendOrCreate, platform::FileShare::Read, file).ok()) return false;
  return file->Write(bytes.data(), bytes.size()).ok();
}

std::string LeftWhere(const std::string& previous, const std::string& failed) {
  return "Не удалось восстановить папку установки. Прежнее содержимое папки находится в \"" + previous +
         "\", файлы прерванной установки — в \"" + failed + "\".";
}

}  // namespace

TUpgradeBackup::TUpgradeBackup(std::string folder) : FFolder(IncludeTrailingDelimiter(folder)) {}

void TUpgradeBackup::MoveAside() {
  std::vector<std::string> names;
  if (!ListNames(FFolder, names)) throw volok::Error(kNoBackup);
  if (names.empty()) return;
  std::string staging = MakeFreshFolder(FFolder, "Backup.new-");
  if (staging.empty()) throw volok::Error(kNoBackup);
  std::string staging_name = FolderName(staging);
  names.erase(std::remove(names.begin(), names.end(), staging_name), names.end());
  std::string failure;
  std::size_t moved = MoveEntries(names, FFolder, staging, &failure);
  if (moved == names.size()) {
    platform::Status renamed = Files().MoveFileReplace(ExcludeTrailingDelimiter(staging), FFolder + kBackupName);
    if (renamed.ok()) {
      FMade = true;
      return;
    }
    failure = "Не удалось переместить \"" + staging + "\": " + renamed.message() + ".";
  }
  // Put back what moved, so the folder is as it was.
  std::vector<std::string> done(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(moved));
  if (MoveEntries(done, staging, FFolder) != done.size())
    throw volok::Error(std::string(kNoBackup) + " " + LeftWhere(staging, FFolder));
  (void)Files().RemoveEmptyFolder(staging);
  // A file in use is the usual cause: name it, and say nothing was lost.
  throw volok::Error(std::string(kNoBackup) + " " + failure + " Прежняя версия оставлена без изменений.");
}

void TUpgradeBackup::Commit() {
  if (!FMade) return;
  std::string earlier = FFolder + kBackupName + "\\" + kBackupName;
  if (Files().FolderExists(earlier)) (void)DeleteFolder(earlier, false);
}

std::string TUpgradeBackup::Restore() {
  if (!FMade) return {};
  const std::string backup = FFolder + kBackupName + "\\";
  if (!Files().FolderExists(backup)) return LeftWhere(backup, FFolder);
  // First everything the run wrote goes aside, then the earlier content
  // comes back; only when all of it is back is anything deleted.
  std::vector<std::string> written;
  std::string failed = MakeFreshFolder(FFolder, "Backup.failed-");
  if (failed.empty() || !ListNames(FFolder, written, kBackupName)) return LeftWhere(backup, FFolder);
  written.erase(std::remove(written.begin(), written.end(), FolderName(failed)), written.end());
  if (MoveEntries(written, FFolder, failed) != written.size()) return LeftWhere(backup, failed);
  std::string previous = MakeFreshFolder(FFolder, "Backup.old-");
  if (previous.empty()) return LeftWhere(backup, failed);
  (void)Files().RemoveEmptyFolder(previous);
  std::vector<std::string> earlier;
  if (!Files().MoveFileReplace(ExcludeTrailingDelimiter(backup), ExcludeTrailingDelimiter(previous)).ok())
    return LeftWhere(backup, failed);
  if (!ListNames(previous, earlier) || MoveEntries(earlier, previous, FFolder) != earlier.size())
    return LeftWhere(previous, failed);
  (void)Files().RemoveEmptyFolder(previous);
  if (!AppendLog(failed + kLogName, FFolder + kLogName)) return LeftWhere(FFolder, failed);
  FMade = false;
  (void)DeleteFolder(failed, true);
  return {};
}

}  // namespace volok
