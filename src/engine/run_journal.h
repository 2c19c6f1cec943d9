// The rollback journal of one program, which makes a run that is killed at
// any moment (power loss, kill -9) end, at the engine's next start, exactly
// as before that run or exactly as after it. It lives in the engine's state
// folder, outside the install folder, and is written durably (temporary
// file, flush, rename, flush of the folder) before the change it announces.
// Until the commit record nothing is destroyed: what the run replaces or
// deletes is moved aside on the same volume, so rolling back is moving it
// home again; after the commit record only clean-up is left. Every step of
// both is idempotent, so a kill during recovery is recovered the same way.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/registry.h"
#include "platform/state_folder.h"

namespace volok {

// One registry key as it was: its values and its sub-keys' (paths relative
// to the key), or its absence.
struct TKeySnapshot {
  platform::RegistryRoot Root = platform::RegistryRoot::LocalMachine;
  std::string Key;
  bool Existed = false;
  std::vector<std::string> SubKeys;  // relative paths, parents first
  struct TValue {
    std::string SubKey;  // "" for the key itself
    platform::NamedRegistryValue Value;
  };
  std::vector<TValue> Values;
};

// One registry value as it was.
struct TValueSnapshot {
  platform::RegistryRoot Root = platform::RegistryRoot::LocalMachine;
  std::string Key, Name;
  bool Existed = false;
  platform::RegistryValue Old;
};

// A file or folder the run moved out of its place instead of deleting or
// replacing it.
struct TAsideMove {
  std::string Original, Aside;
};

// A folder of the earlier version whose move into the staging folder was
// refused: its entries (as they were) moved one by one instead.
struct TSplitFolder {
  std::string Path;                // relative to the install folder
  std::vector<std::string> Names;  // its entries before the run
};

// Everything a run records. Install and uninstall share one layout; what a
// run does not use stays empty.
struct TJournalState {
  bool UnInstall = false;
  std::string RunId;         // names the run's staging folder and moved-aside files
  std::string Folder;        // the install folder, no trailing delimiter
  bool FolderExisted = false;
  std::string Staging;       // install: the subfolder that takes the earlier content
  std::vector<std::string> Earlier;  // install: the folder's entries before the run
  std::vector<TKeySnapshot> Keys;    // in the order recorded
  std::vector<TValueSnapshot> RegistryValues;
  std::vector<TAsideMove> Asides;
  // Install: an upgrade's earlier entries that programs hold. Split folders
  // were moved entry by entry; kept files (relative paths) stay in place,
  // a copy of each in the staging folder, until the restart; deferred ones
  // (kept files the run writes) get the new version at the restart from
  // "<file>.volok-<run id>.new".
  std::vector<TSplitFolder> Split;
  std::vector<std::string> Kept, Deferred;
  bool Committed = false;
};

class TRunJournal final {
 public:
  // Prepares the protected state folder `place` (made when missing; what
  // another account made there set aside, see PrepareStateFolder) and takes
  // the program's lock in it. Throws kAnotherRunMessage when another engine
  // holds it, or an error saying why the folder cannot be used.
  TRunJournal(const platform::StatePlace& place, const std::string& short_name);
  // The same for a folder the caller chose (nothing there is set aside).
  TRunJournal(const std::string& state_folder, const std::string& short_name);
  ~TRunJournal();
  TRunJournal(const TRunJournal&) = delete;
  TRunJournal& operator=(const TRunJournal&) = delete;

  // A journal left by a run that did not end: it is loaded into State().
  // One that is not trustworthy (a link, writable by another account) or
  // not a whole journal of this engine (a record altered or made up) is
  // never replayed: it is set aside and named in Notes(), and the run goes
  // on. One whose write was cut short throws, naming it.
  bool LoadInterrupted();
  // The loaded journal may not be replayed (`why`): it is set aside, named
  // in Notes(), and State() emptied.
  void Refuse(const std::string& why);
  // Writes State() durably; throws when it cannot, before any change.
  void Save();
  // The run has ended, either way: the journal goes, durably.
  void Remove();

  TJournalState& State() { return FState; }
  const std::string& Path() const { return FPath; }
  // What was found in the state folder and set aside, for the log.
  const std::vector<std::string>& Notes() const { return FNotes; }

 private:
  void SetAside(const std::string& path, const std::string& why);

  std::string FFolder, FPath;
  std::unique_ptr<platform::File> FLock;
  TJournalState FState;
  std::vector<std::string> FNotes;
};

// The journal's text form (engine/journal_text.cpp), kept apart for the
// tests and the fuzzer.
std::string FormatJournal(const TJournalState& state);
enum class TJournalText {
  Valid,
  Torn,     // every whole record checks, but the end is missing: a write cut short
  Refused,  // a record altered, made up or out of place; no journal of this engine
};
// Reads `text` into `state`; `why` says what is wrong with one that is not Valid.
TJournalText ParseJournal(const std::string& text, TJournalState& state, std::string& why);

// Reads a registry key with all below it.
TKeySnapshot SnapshotKey(platform::RegistryRoot root, const std::string& key);
TValueSnapshot SnapshotValue(platform::RegistryRoot root, const std::string& key, const std::string& name);

// The refusal of a second run for the same program.
inline constexpr char kAnotherRunMessage[] =
    "Другой процесс установки или удаления этой программы ещё выполняется. Дождитесь его завершения.";

}  // namespace volok
