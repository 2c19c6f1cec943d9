// How an uninstaller removes the folder it was started from: it copies
// itself into a private folder of the temporary folder, moves its own file
// out of the install folder, starts the copy and waits for it; at its end
// the copy starts a batch that deletes the copy, the moved original and
// their folder.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/process.h"

namespace volok {

// The name prefix of the relaunch folders (only those are removed).
inline constexpr char kRelaunchFolderPrefix[] = "volok-uninstall-";
// The original uninstaller's name once it moved into the relaunch folder.
inline constexpr char kMovedOriginalName[] = "uninstall.moved.exe";

// The executable is a copy the relaunch made: it lies in a relaunch folder
// (kRelaunchFolderPrefix and 16 letters or digits), wherever that is now.
bool IsRelaunchedCopy();
// The executable lies inside the user's temporary folder or below it (both
// compared with links resolved), or is a relaunched copy.
bool IsRunningFromTemp();

struct TRelaunchOptions {
  std::string Arguments;      // appended to the copy's command line as they stand
  bool MoveOriginal = false;  // move this executable into the relaunch folder first
};

struct TRelaunch {
  std::string Copy;     // the started copy's path
  std::string Failure;  // why nothing was started, or empty
  std::unique_ptr<platform::Process> Process;  // the started copy
  // Where this executable was and where it went (both empty when it could
  // not move: the temporary folder lies on another volume).
  std::string Original, Moved;
};
// Copies the executable and its description as "uninstall.exe" and
// "uninstall.xml" into a new private folder (platform::MakePrivateFolder) of
// random name inside the temporary folder and starts the copy there, with
// "silent" when asked. When a step fails, everything is put back, the
// folder removed, and Failure says why.
TRelaunch RelaunchFromTemp(bool silent, const TRelaunchOptions& options = {});
// Waits for the started copy and answers its exit code (kExitFatal when it
// cannot be read). The caller leaves the install folder first: its current
// folder would keep it from being removed. When the copy did not complete, the moved original goes
// back, so the registration still names an uninstaller. A copy that was
// killed may have left the install folder set aside: then `recover` (the
// journal's recovery of the killed run) brings it back first, so that the
// original has a folder to return to.
int WaitForRelaunch(TRelaunch& relaunch, const std::function<void()>& recover = {});

// For a relaunched copy only (anything else returns at once): writes, as a
// new file that must not exist, and starts the batch (ExeFileName() with
// ".bat", inside the relaunch folder) that deletes the copy (retrying while
// the process ends), its description, with `remove_original` the moved
// original (the run completed; otherwise the original went back and its
// name is left alone), and the folder. Never deletes anything outside it.
void WriteSelfDeleteBatch(bool remove_original = true);

// Removes the relaunch folders of runs that were killed: older than a few
// minutes, no process running from them. Only the names a relaunch creates
// are deleted, and no link is followed.
void RemoveStaleRelaunchFolders();

}  // namespace volok
