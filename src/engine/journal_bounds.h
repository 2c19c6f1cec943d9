// What a journal met at the start may make the engine undo or finish: only
// what the run that wrote it could have recorded. The state folder is
// protected, so this is the second wall: a journal that got there anyway
// (a system that keeps no descriptors, a folder made before the engine
// protected it) still reaches nothing but the program's own folder, the
// files and registry entries its description names, and its Add/Remove key.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/run_journal.h"

namespace volok {

class TFolderGuard;
class TInstallFile;
class TVariables;

// The files, folders and registry entries a description's entries write or
// delete, placeholders replaced for the install folder `folder`.
struct TRunTargets {
  std::vector<std::string> Paths;  // files and folders; a delete's mask stays a mask
  struct TRegistryTarget {
    platform::RegistryRoot Root = platform::RegistryRoot::LocalMachine;
    std::string Key, ValueName;  // ValueName empty: the whole key
  };
  std::vector<TRegistryTarget> Registry;
  platform::RegistryRoot RegistrationRoot = platform::RegistryRoot::LocalMachine;
  std::string RegistrationKey;  // under RegistrationRoot
};

// The file or folder an entry writes or deletes, placeholders already
// replaced: "" for the commands that name none (UnZip's is its
// Destination folder, which the folder rollback covers).
std::string TargetPath(const TInstallFile& entry);

// The targets of `install` and `uninstall` (both lists: a journal may be
// from either run), with `vars` and {InstallPath} = `folder`.
TRunTargets RunTargets(const std::vector<std::unique_ptr<TInstallFile>>& install,
                       const std::vector<std::unique_ptr<TInstallFile>>& uninstall, TVariables vars,
                       const std::string& folder, platform::RegistryRoot registration_root,
                       const std::string& registration_key);

// Drops from `state` every record its run could not have written, with a
// line for the log in `refused` for each: a path that the guard protects or
// that lies neither in the install folder nor at a target (or, for a file
// the run made, in a folder above one), a registry key or value that is
// none of the targets (a key above one only while it holds nothing but the
// way to them). False, with `why`, when the install folder itself is one no
// run may take over: nothing of the journal may be replayed then.
[[nodiscard]] bool BoundJournal(TJournalState& state, const TFolderGuard& guard, const TRunTargets& targets,
                                std::vector<std::string>& refused, std::string& why);

}  // namespace volok
