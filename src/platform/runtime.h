// Facts about the running process and its system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/state_folder.h"

namespace volok::platform {

// The full path of the running executable, as the system reports the file
// of the main module (GetModuleFileNameW; POSIX: /proc/self/exe as a Z:
// path).
std::string ExecutablePath();
// A path that opens the very file the running executable was loaded from,
// even once its name was given to another file: POSIX "/proc/self/exe" (as
// a Z: path), which the kernel resolves to the running image. Windows:
// ExecutablePath(); the system keeps a loaded image's file from being
// written or deleted, though not from being renamed.
std::string RunningImagePath();
// The running process's id, as the process service lists it.
std::uint32_t CurrentProcessId();
// True on 64-bit Windows (a 64-bit build answers directly, a 32-bit build
// asks IsWow64Process, looked up at run time); POSIX: a 64-bit host.
bool IsWin64();
// Windows: restricts DLL loading to the system folder, so a DLL planted
// beside the executable (a downloads folder) is never loaded. POSIX: nothing.
void HardenDllSearch();
// The names this machine answers to on the network besides "localhost"
// and its loopback addresses (Windows: the NetBIOS and DNS host names and
// the fully qualified one; POSIX: the host name), so that a share path
// naming it can be judged as the local path it reaches.
std::vector<std::string> ThisMachineNames();
// The command line as the system holds it (Windows: GetCommandLineW), for
// the program's own parser; false on POSIX, where argv is already split.
bool RawCommandLine(std::string& command_line);

// Makes `folder` the process's current folder (SetCurrentDirectoryW; POSIX
// chdir); false when it cannot.
bool SetCurrentFolder(const std::string& folder);

// The process's environment variable `name` (UTF-8); false when unset. On
// Windows read from the process environment, which SetEnvironmentVariable
// changes and the C runtime's copy does not follow.
bool EnvironmentVariable(const std::string& name, std::string& value);
// Where the engine keeps what must outlive a run that is killed (its
// journals), a protected place (platform/state_folder.h):
// $VOLOK_JOURNAL_DIR when set (a place of the caller's choice, judged like
// any other but never set aside), so tests keep it in a scratch folder;
// else Windows: {CommonAppData}\volok\journal, and for a per-user run
// (`per_user`) the user's own {LocalAppData}\volok\journal; POSIX (where
// both are the running account's): $XDG_STATE_HOME/volok/journal, else
// ~/.local/state/volok/journal. It may not exist yet. An empty Base when
// none can be named.
StatePlace JournalPlace(bool per_user = false);
// JournalPlace's folder.
std::string JournalFolder();
// A modal message box with an OK button (Windows); POSIX: standard error.
void ShowMessage(const std::string& title, const std::string& text);
// Starts a batch file without waiting, in `working_folder`. Windows: the
// command interpreter runs it. POSIX has none: the batch is translated into
// a /bin/sh script (the part of cmd's language it understands is in
// posix/batch_script.h), and one it cannot translate is not started.
bool StartBatch(const std::string& batch, const std::string& working_folder);
// Starts, without waiting, the batch that lies in a folder of its own, with
// that folder's parent as working folder, and once the batch has ended
// removes the folder, the batch in it included (Wine's cmd keeps a running
// batch open, so the batch cannot remove its own folder). The folder's and
// the batch's names must be plain: letters, digits, "-", "_" and ".";
// false otherwise, and nothing is started.
bool StartFolderBatch(const std::string& batch);

}  // namespace volok::platform
