// What a journalled run does to the disk and the registry, and how it is
// undone or finished: the same steps serve a run that fails or is cancelled
// and the recovery of one that was killed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/run_journal.h"

namespace volok {

class TInstallFile;

// A new run's journal state: its install folder and the entries it holds, a
// fresh run id, and the earlier state of every registry value or key the
// entries write or delete, and of the Add/Remove key `registration_key`
// below `registration_root`. `stage_earlier`: an upgrade, whose earlier
// entries move into a staging subfolder.
TJournalState BeginState(bool uninstall, const std::string& folder,
                         const std::vector<std::unique_ptr<TInstallFile>>& entries,
                         platform::RegistryRoot registration_root, const std::string& registration_key,
                         bool stage_earlier = false);
// Something is at `path`, a link to nothing included.
bool PathPresent(const std::string& path);

// Install: moves the folder's earlier entries (State().Earlier) into the
// staging subfolder. A file whose move is refused (a program holds it)
// stays in place, with a copy in the staging folder, when the system can
// replace files at the next restart: the journal then lists it in Kept (and
// the folders around it in Split). Otherwise, or when even the copy fails,
// everything is moved back and the error says which entry and why.
void MoveEarlierAside(TRunJournal& journal);
// Where the new version of a kept file waits for the restart.
std::string DeferredName(const std::string& path, const std::string& run_id);

// Moves each of `paths` aside next to itself (one journal write for all,
// before the first move); answers those the system refused to move, which
// stay where they were.
std::vector<std::string> MoveAsideJournalled(TRunJournal& journal, const std::vector<std::string>& paths);
// Before a run writes `path` (outside what the folder rollback covers): an
// existing file is copied aside, a missing one and its outermost missing
// folder are recorded as new, so a rollback puts back what was there. Once
// per path and run. Throws when the copy cannot be made.
void JournalWrite(TRunJournal& journal, const std::string& path);
// `path` is `folder` or lies below it (no case, no trailing delimiter).
bool PathWithin(const std::string& path, const std::string& folder);
// True for a name MoveAsideJournalled gave in the run `run_id`.
bool IsAsideName(const std::string& name, const std::string& run_id);

// Undoes the journal's run. Throws, naming what was left where, when a
// step fails; every step may be repeated.
void RollBack(const TJournalState& state, std::vector<std::string>& report);
// Finishes a run past its commit record: the earlier backup replaced, the
// moved-aside files deleted, kept files the new version lacks removed at the
// restart. Problems are reported, never thrown: the run
// has happened. False when something is left to finish at the next start.
// What cannot be deleted now is scheduled for the next restart (named in
// `at_restart` when given, which then makes the run need a restart).
bool RollForward(const TJournalState& state, std::vector<std::string>& report,
                 std::vector<std::string>* at_restart = nullptr);
// Schedules `path` for deletion at the next restart, a folder's content
// first, file by file and child before parent, since the system replays the
// list in order and removes a folder only once it is empty. A link is
// scheduled as itself, never entered. Appends each path to `scheduled` or,
// when the system refused it, to `refused`.
void ScheduleAtRestart(const std::string& path, std::vector<std::string>& scheduled,
                       std::vector<std::string>& refused);

// The subfolder that keeps the earlier version once an upgrade completed.
inline constexpr char kBackupFolderName[] = "Backup";

}  // namespace volok
