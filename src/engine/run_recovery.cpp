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
constexpr std::uint32_t kReparsePoint = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT: a junction or link

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
  // Neither log is followed through a link: one planted in the folder
  // would have root copy what it names, or append to it.
  std::unique_ptr<platform::File> file;
  if (!Files().OpenFile(run_log, platform::FileAccess::ReadNoLink, platform::FileShare::Read, file).ok()) return;
  std::string bytes;
  char buffer[1 << 16];
  for (std::size_t done = 0; file->Read(buffer, sizeof buffer, done).ok() && done > 0;) bytes.append(buffer, done);
  if (bytes.rfind(kBom, 0) == 0) bytes.erase(0, 3);
  if (Files().OpenFile(log, platform::FileAccess::AppendNoLink, platform::FileShare::Read, file).ok())
    (void)file->Write(bytes.data(), bytes.size());
}

std::string LeftWhere(const std::string& previous, const std::string& failed) {
  return "Не удалось восстановить папку установки. Прежнее содержимое папки находится в \"" + previous +
         "\", файлы прерванной установки — в \"" + failed + "\".";
}

// A new undo folder in `folder`: `name`, or `name` with a number when that
// exists already (an interrupted rollback's, or one planted there), so no
// folder that someone else prepared is ever written into.
Status MakeUndoFolder(const std::string& folder, const std::string& name, std::string& undo) {
  Status made = Status::Ok();
  for (int attempt = 0; attempt < 10; ++attempt) {
    undo = folder + name + (attempt ? "." + std::to_string(attempt) : std::string()) + "\\";
    made = Files().MakeNewFolder(ExcludeTrailingDelimiter(undo));
    if (made.ok() || !PathPresent(ExcludeTrailingDelimiter(undo))) return made;
  }
  return made;
}

// Removes every link and reparse point below `folder` as itself: the
// Recycle Bin may follow one and take what it names, a user's file
// linked into the install folder. False when one stays.
bool RemoveLinksBelow(const std::string& folder) {
  std::vector<platform::FileEntry> entries;
  if (!Files().ListFolder(folder, entries).ok()) return true;
  bool all = true;
  for (const platform::FileEntry& entry : entries) {
    const std::string path = IncludeTrailingDelimiter(folder) + entry.Name;
    if (entry.IsLink || (entry.Attributes & platform::FileAttribute::ReparsePoint))
      all = Files().RemoveEntry(path).ok() && all;
    else if (entry.IsFolder)
      all = RemoveLinksBelow(path) && all;
  }
  return all;
}

// Moves `names` from one folder to another; stops at the first failure,
// saying which and why.
std::size_t MoveEntries(const std::vector<std::string>& names, const std::string& from, const std::string& to,
                        std::string& failure) {
  std::size_t moved = 0;
  for (const std::string& name : names) {
    Status status = Files().MoveEntry(from + name, to + name);
    if (!status.ok()) {
      failure = "Не удалось переместить \"" + from + name + "\": " + status.message() + ".";
      break;
    }
    ++moved;
  }
  return moved;
}

const TSplitFolder* FindSplit(const TJournalState& state, const std::string& relative) {
  for (const TSplitFolder& split : state.Split)
    if (LowerCase(split.Path) == LowerCase(relative)) return &split;
  return nullptr;
}

bool Listed(const std::vector<std::string>& paths, const std::string& relative) {
  for (const std::string& path : paths)
    if (LowerCase(path) == LowerCase(relative)) return true;
  return false;
}

// One folder level of the rollback: the install folder itself, or a folder
// of it whose entries moved one by one. Paths end with "\".
struct TLevel {
  std::string Folder, Staging, Undo, Prefix;
  std::set<std::string> Earlier;  // folded names before the run
};

// A kept file is the earlier version itself unless the restart already gave
// it the new one (its deferred file is gone): then the copy goes back.
void RestoreKept(const TJournalState& state, const TLevel& level, const std::string& name) {
  const std::string target = level.Folder + name, copy = level.Staging + name;
  const bool replaced = Listed(state.Deferred, level.Prefix + name) && !Present(DeferredName(target, state.RunId));
  if (!replaced) {
    if (Present(copy)) (void)Files().RemoveFile(copy);
    return;
  }
  Status status = Files().MoveFileReplace(copy, target);
  if (!status.ok()) throw volok::Error(LeftWhere(copy, target) + " " + status.message());
}

// What the run wrote at this level first goes into the undo folder, then
// the staged earlier entries come home; folders whose entries moved one by
// one are taken level by level.
void RollBackLevel(const TJournalState& state, const TLevel& level) {
  const bool top = level.Prefix.empty();
  const std::string undo_name = "Backup.undo-" + state.RunId;
  const bool staged_exists = !level.Staging.empty() && Files().FolderExists(level.Staging);
  const std::vector<std::string> staged_names = staged_exists ? Names(level.Staging) : std::vector<std::string>();
  const std::set<std::string> staged = FoldedSet(staged_names);
  std::vector<std::string> written;
  std::set<std::string> done;
  for (const std::string& name : Names(level.Folder)) {
    const std::string folded = LowerCase(name), relative = level.Prefix + name;
    if (top && ((!state.Staging.empty() && folded == LowerCase(state.Staging)) ||
                folded.rfind(LowerCase(undo_name), 0) == 0))
      continue;
    // Without an earlier log the run's own stays, so the user can read why
    // the install did not happen.
    if (top && folded == kLogName && !staged.count(folded)) continue;
    if (const TSplitFolder* split = FindSplit(state, relative); split && Files().FolderExists(level.Folder + name)) {
      const std::string staged_folder = level.Staging.empty() ? std::string() : level.Staging + name + "\\";
      RollBackLevel(state, {level.Folder + name + "\\", staged_folder, level.Undo + name + "\\", relative + "\\",
                            FoldedSet(split->Names)});
      done.insert(folded);
    } else if (level.Earlier.count(folded) && Listed(state.Kept, relative)) {
      RestoreKept(state, level, name);
      done.insert(folded);
    } else if (!level.Earlier.count(folded) || staged.count(folded)) {
      written.push_back(name);
    }
  }
  std::string failure;
  const std::string undo = ExcludeTrailingDelimiter(level.Undo);
  if (!written.empty()) {
    // Below the run's own new undo folder: made new too, never reused.
    if (!Files().FolderExists(undo) && !Files().MakeNewFolder(undo).ok())
      throw volok::Error(LeftWhere(staged_exists ? level.Staging : level.Folder, level.Folder));
    if (MoveEntries(written, level.Folder, level.Undo, failure) != written.size())
      throw volok::Error(LeftWhere(staged_exists ? level.Staging : level.Folder, level.Undo) + " " + failure);
  }
  std::vector<std::string> home;
  for (const std::string& name : staged_names)
    if (!done.count(LowerCase(name))) home.push_back(name);
  if (MoveEntries(home, level.Staging, level.Folder, failure) != home.size())
    throw volok::Error(LeftWhere(level.Staging, level.Undo) + " " + failure);
  if (staged_exists) (void)Files().RemoveEmptyFolder(ExcludeTrailingDelimiter(level.Staging));
}

// The install folder as it was; the undo folder, holding what the run wrote,
// goes only once everything is home: a step that fails leaves both versions
// in the folder.
void RollBackFolder(const TJournalState& state, std::vector<std::string>& report) {
  const std::string folder = IncludeTrailingDelimiter(state.Folder);
  if (!Files().FolderExists(folder)) return;
  const std::string staging = state.Staging.empty() ? std::string() : folder + state.Staging + "\\";
  const std::string undo_prefix = LowerCase("Backup.undo-" + state.RunId);
  // The undo folder is always a new one: never a folder that an interrupted
  // rollback or someone else prepared under that name.
  std::string undo;
  Status made = MakeUndoFolder(folder, "Backup.undo-" + state.RunId, undo);
  if (!made.ok()) throw volok::Error(LeftWhere(staging.empty() ? folder : staging, folder) + " " + made.message());
  RollBackLevel(state, {folder, staging, undo, "", FoldedSet(state.Earlier)});
  // This rollback's undo folder, and one an interrupted rollback of the
  // same run left (it holds that run's files).
  for (const std::string& name : Names(folder)) {
    if (LowerCase(name).rfind(undo_prefix, 0) != 0) continue;
    const std::string left = folder + name + "\\";
    if (Files().FileExists(left + kLogName)) AppendLog(left + kLogName, folder + kLogName);
    if (!DeleteFolder(left, true)) throw volok::Error(LeftWhere(folder, left));
  }
  if (!state.FolderExisted && Files().FolderExists(state.Folder) && Names(folder).empty())
    (void)Files().RemoveEntry(state.Folder);
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

// Copies a file a program holds, which it may be writing: the system's copy
// first (it keeps time and attributes), else a read that lets writers be.
Status CopyHeld(const std::string& from, const std::string& to) {
  if (Files().CopyFileOver(from, to).ok()) return Status::Ok();
  std::unique_ptr<platform::File> in, out;
  Status status = Files().OpenFile(from, platform::FileAccess::ReadExisting, platform::FileShare::ReadWrite, in);
  if (status.ok()) status = Files().OpenFile(to, platform::FileAccess::CreateAlways, platform::FileShare::None, out);
  std::vector<char> buffer(1 << 20);
  for (std::size_t done = 1; status.ok() && done > 0;) {
    status = in->Read(buffer.data(), buffer.size(), done);
    if (status.ok() && done > 0) status = out->Write(buffer.data(), done);
  }
  if (status.ok()) status = out->Flush();
  return status;
}

// Whether this system takes requests for the next restart: asked once, with
// a file of the journal's own folder that the request would remove.
bool RestartListWorks(const TRunJournal& journal) {
  const std::string probe = journal.Path() + ".restart-probe";
  std::unique_ptr<platform::File> file;
  if (!Files().OpenFile(probe, platform::FileAccess::CreateAlways, platform::FileShare::None, file).ok()) return false;
  file.reset();
  const bool works = Files().RemoveAtRestart(probe).ok();
  (void)Files().RemoveFile(probe);
  return works;
}

bool IsLink(const std::string& path) {
  std::string text;
  std::uint32_t attributes = 0;
  return Files().ReadSymbolicLink(path, text).ok() ||
         (Files().GetAttributes(path, attributes).ok() && (attributes & kReparsePoint) != 0);
}

// Moves the earlier entries into the staging folder. Where a program holds a
// file (the move is refused) and the system can replace files at the
// restart, a folder's entries move one by one and the held file stays, a
// copy of it in the staging folder; each is journalled before it happens.
class TEarlierMover final {
 public:
  TEarlierMover(TRunJournal& journal, std::string folder, std::string staging)
      : FJournal(journal), FFolder(std::move(folder)), FStaging(std::move(staging)) {
    FFolders = {ExcludeTrailingDelimiter(FStaging), ExcludeTrailingDelimiter(FFolder)};
  }

  // False, with `failure` saying which entry and why, when the entry can
  // neither move nor stay.
  bool Move(const std::string& relative, std::string& failure) {
    const std::string from = FFolder + relative;
    Status status = Files().MoveFileReplace(from, FStaging + relative);
    if (status.ok()) return true;
    if (!MayKeep()) {
      failure = "Не удалось переместить \"" + from + "\": " + status.message() + ".";
      return false;
    }
    return Files().FolderExists(from) && !IsLink(from) ? Split(relative, failure) : Keep(relative, failure);
  }

  // The folders whose entries changed, to be flushed.
  const std::vector<std::string>& Folders() const { return FFolders; }

 private:
  bool MayKeep() {
    if (FMayKeep < 0) FMayKeep = RestartListWorks(FJournal) ? 1 : 0;
    return FMayKeep == 1;
  }

  bool Split(const std::string& relative, std::string& failure) {
    // Copied: the deeper folders add to the journal's list.
    const std::vector<std::string> names = Names(FFolder + relative);
    FJournal.State().Split.push_back({relative, names});
    FJournal.Save();
    const std::string staged = FStaging + relative;
    if (!Files().FolderExists(staged)) {
      Status made = Files().MakeFolder(staged);
      if (!made.ok()) {
        failure = "Не удалось создать папку \"" + staged + "\": " + made.message() + ".";
        return false;
      }
    }
    FFolders.push_back(staged);
    FFolders.push_back(FFolder + relative);
    for (const std::string& name : names)
      if (!Move(relative + "\\" + name, failure)) return false;
    // Emptied (nothing below it held): it goes, so the staging folder alone
    // holds it, as if it had moved whole. A rollback moves it home again.
    if (Names(FFolder + relative).empty()) (void)Files().RemoveEmptyFolder(FFolder + relative);
    return true;
  }

  bool Keep(const std::string& relative, std::string& failure) {
    FJournal.State().Kept.push_back(relative);
    FJournal.Save();
    Status copied = CopyHeld(FFolder + relative, FStaging + relative);
    if (copied.ok()) return true;
    failure = "Файл занят, и его не удалось сохранить в резервной копии: \"" + FFolder + relative + "\": " +
              copied.message() + ".";
    return false;
  }

  TRunJournal& FJournal;
  std::string FFolder, FStaging;
  std::vector<std::string> FFolders;
  int FMayKeep = -1;  // not asked yet
};

}  // namespace

// A link to nothing is still there to be moved or deleted.
bool PathPresent(const std::string& path) {
  std::uint32_t attributes = 0;
  return Files().KindOf(path) != platform::FileKind::Missing || Files().GetAttributes(path, attributes).ok();
}

TJournalState BeginState(bool uninstall, const std::string& folder,
                         const std::vector<std::unique_ptr<TInstallFile>>& entries,
                         RegistryRoot registration_root, const std::string& registration_key,
                         bool stage_earlier) {
  TJournalState state;
  state.UnInstall = uninstall;
  state.RunId = RandomId();
  state.Folder = ExcludeTrailingDelimiter(folder);
  state.FolderExisted = Files().FolderExists(state.Folder);
  if (!uninstall) state.Earlier = Names(state.Folder);
  if (stage_earlier && !state.Earlier.empty()) state.Staging = "Backup.run-" + state.RunId;
  AddKey(state, registration_root, registration_key);
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

void MoveEarlierAside(TRunJournal& journal) {
  const TJournalState& state = journal.State();
  if (state.Earlier.empty() || state.Staging.empty()) return;
  const std::string folder = IncludeTrailingDelimiter(state.Folder), staging = folder + state.Staging + "\\";
  // Always a new folder: one that exists (a link or folder someone else
  // put there) is never moved into.
  Status made = Files().MakeNewFolder(ExcludeTrailingDelimiter(staging));
  if (!made.ok()) throw volok::Error(std::string(kNoBackup) + " " + made.message());
  TEarlierMover mover(journal, folder, staging);
  std::string failure;
  for (const std::string& name : state.Earlier)
    if (!mover.Move(name, failure)) break;
  if (failure.empty()) {
    // The moves must be on the disk before the new files: a power loss must
    // not leave a new file where the journal says an earlier one still is.
    for (const std::string& moved : mover.Folders()) (void)Files().FlushFolder(moved);
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
    if (!Files().MoveEntry(state.Asides[i].Original, state.Asides[i].Aside).ok())
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
  if (status.ok()) status = Files().MoveEntry(aside + ".part", aside);
  if (!status.ok()) throw volok::Error("Не удалось сохранить копию файла \"" + path + "\": " + status.message());
}

std::string DeferredName(const std::string& path, const std::string& run_id) {
  return path + ".volok-" + run_id + ".new";
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
    (void)Files().RemoveEntry(move->Aside + ".part");
    if (!Present(move->Aside)) continue;
    if (Present(move->Original) && !DeleteFolder(move->Original, true))
      throw volok::Error(LeftWhere(move->Aside, move->Original));
    Status status = Files().MoveEntry(move->Aside, move->Original);
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
    if (Present(earlier) && (!RemoveLinksBelow(earlier) || !DeleteFolder(earlier, false)))
      report.push_back("Не удалось удалить прежнюю резервную копию: \"" + earlier + "\".");
    const std::string backup = folder + kBackupFolderName;
    Status status = Present(backup) ? Status::Failure("\"" + backup + "\" уже существует")
                                    : Files().MoveEntry(staging, backup);
    if (!status.ok())
      report.push_back("Прежняя версия оставлена в \"" + staging + "\": " + status.message() + ".");
    (void)Files().FlushFolder(state.Folder);
  }
  // An earlier file a program held that the new version does not have
  // would be a stray of the old one beside the new: it goes at the restart
  // (its copy is in the backup). One the system will not take is only said:
  // a later start could do no better.
  std::vector<std::string> strays;
  for (const std::string& kept : state.Kept)
    if (!Listed(state.Deferred, kept) && Present(folder + kept)) {
      Status scheduled = Files().RemoveAtRestart(folder + kept);
      if (!scheduled.ok())
        strays.push_back("Файл прежней версии не удалён: \"" + folder + kept + "\": " + scheduled.message() + ".");
    }
  for (const TAsideMove& move : state.Asides) {
    if (move.Aside.empty()) continue;
    (void)Files().RemoveEntry(move.Aside + ".part");
    if (!Present(move.Aside) || DeleteFolder(move.Aside, true)) continue;
    std::vector<std::string> scheduled, refused;
    ScheduleAtRestart(move.Aside, scheduled, refused);
    if (at_restart) at_restart->insert(at_restart->end(), scheduled.begin(), scheduled.end());
    for (const std::string& path : refused) report.push_back("Не удалось удалить: \"" + path + "\".");
  }
  const bool finished = report.size() == reported;
  report.insert(report.end(), strays.begin(), strays.end());
  return finished;
}

}  // namespace volok
