// Facts about the running process and its system.
#pragma once

#include <cstdint>
#include <string>

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
// The command line as the system holds it (Windows: GetCommandLineW), for
// the program's own parser; false on POSIX, where argv is already split.
bool RawCommandLine(std::string& command_line);

// The process's environment variable `name` (UTF-8); false when unset. On
// Windows read from the process environment, which SetEnvironmentVariable
// changes and the C runtime's copy does not follow.
bool EnvironmentVariable(const std::string& name, std::string& value);
// The folder where the engine keeps what must outlive a run that is killed
// (its journals): $VOLOK_JOURNAL_DIR when set, so tests keep it in a scratch
// folder; else Windows: {CommonAppData}\volok\journal; POSIX:
// $XDG_STATE_HOME/volok/journal, else ~/.local/state/volok/journal. It may
// not exist yet. Empty when none can be named.
std::string JournalFolder();
// A modal message box with an OK button (Windows); POSIX: standard error.
void ShowMessage(const std::string& title, const std::string& text);
// Starts a batch file without waiting, in `working_folder`. Windows: the
// command interpreter runs it. POSIX has none: the batch is translated into
// a /bin/sh script (the part of cmd's language it understands is in
// posix/batch_script.h), and one it cannot translate is not started.
bool StartBatch(const std::string& batch, const std::string& working_folder);

}  // namespace volok::platform
