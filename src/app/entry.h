// The program's start: run modes, the uninstaller's relaunch from the
// temporary folder, and the batch that deletes the temporary copy.
#pragma once

#include <string>
#include <vector>

namespace volok {

// Runs the program for its parameters (parameter 0 is the program itself)
// and gives the process's exit code.
int RunProgramMain(const std::vector<std::string>& parameters);

// The wizard window and its message loop (a message on standard error where
// this build has no window); always 0.
int RunWizard(const std::vector<std::string>& parameters);

// The silent run; `parameters` as above. 0 when the install or uninstall
// completed (or was handed to the relaunched copy), 1 otherwise.
int RunSilent(const std::vector<std::string>& parameters);

// The executable lies inside the user's temporary folder (or below it).
bool IsRunningFromTemp();
// Copies the executable and its description as "uninstall.exe" and
// "uninstall.xml" into a new folder of random name inside the temporary
// folder and starts the copy there, with "silent" when asked. Failures pass
// silently. Gives the copy's path, or empty when nothing was started.
std::string RelaunchFromTemp(bool silent);
// Writes and starts the batch (ExeFileName with ".bat") that deletes the
// executable, its description and itself; for a relaunch copy the batch lies
// beside its folder (folder name + ".bat") and removes the emptied folder.
void WriteSelfDeleteBatch();

// The name prefix of the relaunch folders (only those are removed).
inline constexpr char kRelaunchFolderPrefix[] = "volok-uninstall-";

}  // namespace volok
