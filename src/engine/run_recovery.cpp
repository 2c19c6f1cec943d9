#include "engine/run_recovery.h"

#include <algorithm>
#include <random>
#include <set>

#include "common/app_paths.h"
#include "common/error.h"
#include "common/file_utils.h"
#include "common/text.h"
#include "common/text_file.h"
#include "engine/system_commands.h"
#include "model/install_file.h"

namespace volok {

namespace {

using platform::FileSystem;
using platform::Registry;
using platform::RegistryRoot;
using platform::Status;

constexpr char kNoBackup[] = "Невозможно создать каталог для резервного копирования.";
constexpr char kLogName[] = "setup.log";
constexpr char kBom[] = "\xEF\xBB\xBF";

FileSystem& Files() { return FileSystem::Default(); }

std::string RandomId() {
  std::random_device device;
  std::uniform_int_distribution<unsigned> digit(0, 35);
  std::string id;
  for (int i = 0; i < 12; ++i) {
    unsigned d = digit(device);
    id += static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
  }
  return id;
}

bool Present(const std::string& path) { return PathPresent(path); }

// A symbolic link (POSIX) or any reparse point (Windows: links, junctions),
// which a walk must not enter.
bool IsLinkOrReparsePoint(const std::string& path) {
  constexpr std::uint32_t kReparsePoint = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT
  std::string target;
  std::uint32_t attributes = 0;
  return Files().ReadSymbolicLink(path, target).ok() ||
         (Files().GetAttributes(path, attributes).ok() && (attributes & kReparsePoint) != 0);
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<platform::FileEntry> entries;
  std::vector<std::string> names;
  if (Files().ListFolder(folder, entries).ok())
    for (const auto& entry : entries) names.push_back(entry.Name);
  return names;
}

std::set<std::string> FoldedSet(const std::vector<std::string>& names) {
  std::set<std::string> set;
  for (const std::string& name : names) set.insert(LowerCase(name));
  return set;
}

bool KeyExists(RegistryRoot root, const std::string& key) {
  std::vector<std::string> children;
  return Registry::Default().SubKeys(root, key, children).ok();
}

// The outermost key of `key` that does not exist yet: creating `key` makes
// it and all below it, so deleting it undoes that.
std::string OutermostMissing(RegistryRoot root, const std::string& key) {
  std::string prefix;
  std::size_t start = 0;
  for (;;) {
    std::size_t slash = key.find('\\', start);
    std::string segment = key.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (!segment.empty()) {
      prefix += (prefix.empty() ? "" : "\\") + segment;
      if (!KeyExists(root, prefix)) return prefix;
    }
    if (slash == std::string::npos) return key;
    start = slash + 1;
  }
}

void AddKey(TJournalState& state, RegistryRoot root, const std::string& key) {
  for (const TKeySnapshot& known : state.Keys)
    if (known.Root == root && LowerCase(known.Key) == LowerCase(key)) return;
  state.Keys.push_back(SnapshotKey(root, key));
}

void AddValue(TJournalState& state, RegistryRoot root, const std::string& key, const std::string& name) {
  for (const TValueSnapshot& known : state.RegistryValues)
    if (known.Root == root && LowerCase(known.Key) == LowerCase(key) && LowerCase(known.Name) == LowerCase(name))
      return;
  state.RegistryValues.push_back(SnapshotValue(root, key, name));
}

// Appends the run's log to the earlier one, so the restored log tells what
// happened; the BOM of the appended part goes.
void AppendLog(const std::string& run_log, const std::string& log) {
  std::string bytes;
  try {
    bytes = ReadFileBytes(run_log);
  } catch (const volok::Error&) {
    return;
  }
  if (bytes.rfind(kBom, 0) == 0) bytes.erase(0, 3);
  std::unique_ptr<platform::File> file;
  if (Files().OpenFile(log, platform::FileAccess::AppendOrCreate, platform::FileShare::Read, file).ok())
    (void)file->Write(bytes.data(), bytes.size());
}

std::string LeftWhere(const std::string& previous, const std::string& failed) {
  return "Не удалось восстановить папку установки. Прежнее содержимое папки находится в \"" + previous +
         "\", файлы прерванной установки — в \"" + failed + "\".";
}

// Moves `names` from one folder to another; stops at the first failure,
// saying which and why.
std::size_t MoveEntries(const std::vector<std::string>& names, const std::string& from, const std::string& to,
                        std::string& failure) {
  std::size_t moved = 0;
  for (const std::string& name : names) {
    Status status = Files().MoveFileReplace(from + name, to + name);
    if (!status.ok()) {
      failure = "Не удалось переместить \"" + from + name + "\": " + status.message() + ".";
      break;
    }
    ++moved;
  }
  return moved;
}

// The install folder as it was. What the run wrote first goes into an undo
// folder, then the staged earlier entries come home, the run's log joins the
// earlier one, and only then is the undo folder deleted: a step that fails
// leaves both versions in the folder.
void RollBackFolder(const TJournalState& state, std::vector<std::string>& report) {
  const std::string folder = IncludeTrailingDelimiter(state.Folder);
  if (!Files().FolderExists(folder)) return;
  const std::string staging = state.Staging.empty() ? std::string() : folder + state.Staging + "\\";
  const std::string undo_name = "Backup.undo-" + state.RunId, undo = folder + undo_name + "\\";
  const bool staged_exists = !staging.empty() && Files().FolderExists(staging);
  const std::vector<std::string> staged_names = staged_exists ? Names(staging) : std::vector<std::string>();
  const std::set<std::string> staged = FoldedSet(staged_names), earlier = FoldedSet(state.Earlier);
  std::vector<std::string> written;
  for (const std::string& name : Names(folder)) {
    const std::string folded = LowerCase(name);
    if ((!state.Staging.empty() && folded == LowerCase(state.Staging)) || folded == LowerCase(undo_name)) continue;
    // Without an earlier log the run's own stays, so the user can read why
    // the install did not happen.
    if (folded == kLogName && !staged.count(folded)) continue;
    if (!earlier.count(folded) || staged.count(folded)) written.push_back(name);
  }
  std::string failure;
  if (!written.empty()) {
    if (!Files().FolderExists(undo)) {
      Status made = Files().MakeFolder(ExcludeTrailingDelimiter(undo));
      if (!made.ok()) throw volok::Error(LeftWhere(staging.empty() ? folder : staging, folder) + " " + made.message());
    }
    if (MoveEntries(written, folder, undo, failure) != written.size())
      throw volok::Error(LeftWhere(staging.empty() ? folder : staging, undo) + " " + failure);
  }
  if (MoveEntries(staged_names, staging, folder, failure) != staged_names.size())
    throw volok::Error(LeftWhere(staging, undo) + " " + failure);
  if (staged_exists) (void)Files().RemoveEmptyFolder(ExcludeTrailingDelimiter(staging));
  if (Files().FolderExists(undo)) {
    if (Files().FileExists(undo + kLogName)) AppendLog(undo + kLogName, folder + kLogName);
    if (!DeleteFolder(undo, true)) throw volok::Error(LeftWhere(folder, undo));
  }
  if (!state.FolderExisted && Names(folder).empty()) (void)Files().RemoveEmptyFolder(state.Folder);
  (void)Files().FlushFolder(state.Folder);
  report.push_back("Папка установки возвращена в прежнее состояние: \"" + state.Folder + "\".");
}

void RestoreKey(const TKeySnapshot& key) {
  Registry& registry = Registry::Default();
  Status status = registry.DeleteKeyTree(key.Root, key.Key);
  if (!status.ok()) throw volok::Error("Не удалось восстановить раздел реестра " + key.Key + ": " + status.message());
  if (!key.Existed) return;
  std::vector<std::string> keys{""};
  keys.insert(keys.end(), key.SubKeys.begin(), key.SubKeys.end());
  for (const std::string& sub : keys) {
    const std::string path = sub.empty() ? key.Key : key.Key + "\\" + sub;
    std::vector<platform::NamedRegistryValue> values;
    for (const auto& value : key.Values)
      if (value.SubKey == sub) values.push_back(value.Value);
    status = registry.CreateKey(key.Root, path);
    if (status.ok()) status = registry.SetValues(key.Root, path, values);
    if (!status.ok()) throw volok::Error("Не удалось восстановить раздел реестра " + path + ": " + status.message());
  }
}

void RestoreValue(const TValueSnapshot& value) {
  Registry& registry = Registry::Default();
  if (!value.Existed) {
    (void)registry.DeleteValue(value.Root, value.Key, value.Name);  // gone already, or its key is
    return;
  }
  Status status = registry.CreateKey(value.Root, value.Key);
  if (status.ok()) status = registry.SetValues(value.Root, value.Key, {{value.Name, value.Old}});
  if (!status.ok())
    throw volok::Error("Не удалось восстановить значение реестра " + value.Key + "\\" + value.Name + ": " +
                       status.message());
}

}  // namespace

// A link to nothing is still there to be moved or deleted.
bool PathPresent(const std::string& path) {
  std::uint32_t attributes = 0;
  return Files().KindOf(path) != platform::FileKind::Missing || Files().GetAttributes(path, attributes).ok();
}

TJournalState BeginState(bool uninstall, const std::string& folder,
                         const std::vector<std::unique_ptr<TInstallFile>>& entries,
                         const std::string& registration_key, bool stage_earlier) {
  TJournalState state;
  state.UnInstall = uninstall;
  state.RunId = RandomId();
  state.Folder = ExcludeTrailingDelimiter(folder);
  state.FolderExisted = Files().FolderExists(state.Folder);
  if (!uninstall) state.Earlier = Names(state.Folder);
  if (stage_earlier && !state.Earlier.empty()) state.Staging = "Backup.run-" + state.RunId;
  AddKey(state, RegistryRoot::LocalMachine, registration_key);
  for (const auto& entry : entries) {
    if (!entry) continue;
    const bool writes = entry->Action() == "RegistryWrite", deletes = entry->Action() == "RegistryDelete";
    if (!writes && !deletes) continue;
    TInstallReg request = ParseRegistryEntry(*entry);
    if (request.Root == 0 || request.Key.empty()) continue;
    auto root = static_cast<RegistryRoot>(request.Root);
    if (deletes && request.ValueName.empty())
      AddKey(state, root, request.Key);
    else if (!KeyExists(root, request.Key))
      AddKey(state, root, OutermostMissing(root, request.Key));
    else if (!request.ValueName.empty())
      AddValue(state, root, request.Key, request.ValueName);
  }
  return state;
}

void MoveEarlierAside(const TJournalState& state) {
  if (state.Earlier.empty() || state.Staging.empty()) return;
  const std::string folder = IncludeTrailingDelimiter(state.Folder), staging = folder + state.Staging + "\\";
  Status made = Files().MakeFolder(ExcludeTrailingDelimiter(staging));
  if (!made.ok()) throw volok::Error(std::string(kNoBackup) + " " + made.message());
  std::string failure;
  if (MoveEntries(state.Earlier, folder, staging, failure) == state.Earlier.size()) {
    // The moves must be on the disk before the new files: a power loss must
    // not leave a new file where the journal says an earlier one still is.
    (void)Files().FlushFolder(ExcludeTrailingDelimiter(staging));
    (void)Files().FlushFolder(state.Folder);
    return;
  }
  std::vector<std::string> report;
  RollBackFolder(state, report);
  // A file in use is the usual cause: name it, and say nothing was lost.
  throw volok::Error(std::string(kNoBackup) + " " + failure + " Прежняя версия оставлена без изменений.");
}

std::vector<std::string> MoveAsideJournalled(TRunJournal& journal, const std::vector<std::string>& paths) {
  TJournalState& state = journal.State();
  const std::size_t first = state.Asides.size();
  for (const std::string& path : paths)
    state.Asides.push_back({path, path + ".volok-" + state.RunId + "." + std::to_string(state.Asides.size())});
  journal.Save();
  std::vector<std::string> refused;
  for (std::size_t i = first; i < state.Asides.size(); ++i)
    if (!Files().MoveFileReplace(state.Asides[i].Original, state.Asides[i].Aside).ok())
      refused.push_back(state.Asides[i].Original);
  return refused;
}

bool PathWithin(const std::string& path, const std::string& folder) {
  if (folder.empty()) return false;
  const std::string p = LowerCase(ExcludeTrailingDelimiter(path)), f = LowerCase(ExcludeTrailingDelimiter(folder));
  return p == f || p.rfind(f + "\\", 0) == 0;
}

void JournalWrite(TRunJournal& journal, const std::string& path) {
  TJournalState& state = journal.State();
  for (const TAsideMove& move : state.Asides)
    if (LowerCase(move.Original) == LowerCase(path)) return;  // the first record holds the earlier state
  if (!Present(path)) {
    // New: a rollback deletes it, and the folders made for it.
    std::string outermost, folder = ExcludeTrailingDelimiter(ExtractFilePath(path));
    while (!folder.empty() && !IsDriveRoot(folder) && !Files().FolderExists(folder)) {
      outermost = folder;
      folder = ExcludeTrailingDelimiter(ExtractFilePath(folder));
    }
    if (!outermost.empty()) state.Asides.push_back({outermost, ""});
    state.Asides.push_back({path, ""});
    journal.Save();
    return;
  }
  // Copied through a partial name: an aside that exists is always whole.
  const std::string aside = path + ".volok-" + state.RunId + "." + std::to_string(state.Asides.size());
  state.Asides.push_back({path, aside});
  journal.Save();
  Status status = Files().CopyFileOver(path, aside + ".part");
  std::unique_ptr<platform::File> copy;
  if (status.ok())
    status = Files().OpenFile(aside + ".part", platform::FileAccess::AppendOrCreate, platform::FileShare::Read, copy);
  if (status.ok()) status = copy->Flush();
  copy.reset();
  if (status.ok()) status = Files().MoveFileReplace(aside + ".part", aside);
  if (!status.ok()) throw volok::Error("Не удалось сохранить копию файла \"" + path + "\": " + status.message());
}

bool IsAsideName(const std::string& name, const std::string& run_id) {
  return !run_id.empty() && name.find(".volok-" + run_id + ".") != std::string::npos;
}

void RollBack(const TJournalState& state, std::vector<std::string>& report) {
  if (!state.UnInstall) RollBackFolder(state, report);
  for (auto move = state.Asides.rbegin(); move != state.Asides.rend(); ++move) {
    if (move->Aside.empty()) {  // made by the run
      if (Present(move->Original) && !DeleteFolder(move->Original, true))
        throw volok::Error("Не удалось удалить \"" + move->Original + "\".");
      continue;
    }
    (void)Files().RemoveFile(move->Aside + ".part");
    if (!Present(move->Aside)) continue;
    if (Present(move->Original) && !DeleteFolder(move->Original, true))
      throw volok::Error(LeftWhere(move->Aside, move->Original));
    Status status = Files().MoveFileReplace(move->Aside, move->Original);
    if (!status.ok()) throw volok::Error(LeftWhere(move->Aside, move->Original) + " " + status.message());
    report.push_back("Восстановлено: \"" + move->Original + "\".");
  }
  for (const TValueSnapshot& value : state.RegistryValues) RestoreValue(value);
  for (const TKeySnapshot& key : state.Keys) RestoreKey(key);
}

void ScheduleAtRestart(const std::string& path, std::vector<std::string>& scheduled,
                       std::vector<std::string>& refused) {
  std::vector<platform::FileEntry> entries;
  if (Files().FolderExists(path) && !IsLinkOrReparsePoint(path) && Files().ListFolder(path, entries).ok())
    for (const platform::FileEntry& entry : entries)
      ScheduleAtRestart(IncludeTrailingDelimiter(path) + entry.Name, scheduled, refused);
  (Files().RemoveAtRestart(path).ok() ? scheduled : refused).push_back(path);
}

bool RollForward(const TJournalState& state, std::vector<std::string>& report, std::vector<std::string>* at_restart) {
  const std::size_t reported = report.size();
  const std::string folder = IncludeTrailingDelimiter(state.Folder);
  const std::string staging = state.Staging.empty() ? std::string() : folder + state.Staging;
  if (!staging.empty() && Files().FolderExists(staging)) {
    // Only now, with the new version complete, may the earlier backup go.
    const std::string earlier = staging + "\\" + kBackupFolderName;
    if (Present(earlier) && !DeleteFolder(earlier, false))
      report.push_back("Не удалось удалить прежнюю резервную копию: \"" + earlier + "\".");
    const std::string backup = folder + kBackupFolderName;
    Status status = Present(backup) ? Status::Failure("\"" + backup + "\" уже существует")
                                    : Files().MoveFileReplace(staging, backup);
    if (!status.ok())
      report.push_back("Прежняя версия оставлена в \"" + staging + "\": " + status.message() + ".");
    (void)Files().FlushFolder(state.Folder);
  }
  for (const TAsideMove& move : state.Asides) {
    if (move.Aside.empty()) continue;
    (void)Files().RemoveFile(move.Aside + ".part");
    if (!Present(move.Aside) || DeleteFolder(move.Aside, true)) continue;
    std::vector<std::string> scheduled, refused;
    ScheduleAtRestart(move.Aside, scheduled, refused);
    if (at_restart) at_restart->insert(at_restart->end(), scheduled.begin(), scheduled.end());
    for (const std::string& path : refused) report.push_back("Не удалось удалить: \"" + path + "\".");
  }
  return report.size() == reported;
}

}  // namespace volok
