// Facts about the running process and its system.
#pragma once

#include <string>

namespace volok::platform {

// The full path of the running executable, as the system reports the file
// of the main module (GetModuleFileNameW; POSIX: /proc/self/exe as a Z:
// path).
std::string ExecutablePath();
// True on 64-bit Windows (a 64-bit build answers directly, a 32-bit build
// asks IsWow64Process, looked up at run time); POSIX: a 64-bit host.
bool IsWin64();
// Windows: restricts DLL loading to the system folder, so a DLL planted
// beside the executable (a downloads folder) is never loaded. POSIX: nothing.
void HardenDllSearch();

}  // namespace volok::platform
