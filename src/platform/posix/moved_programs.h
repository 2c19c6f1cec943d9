// Windows names a running program by the path it was started from, even
// after its file or a folder above it was moved; /proc/<pid>/exe follows the
// move. So that an upgrade that moved the install folder's content into
// "Backup" still finds the old program by its install path, the moves this
// process makes are remembered for the programs running from what moved.
#pragma once

#include <sys/types.h>

#include <string>

namespace volok::platform::posix {

// After this process moved `source` to `target` (POSIX paths; a folder or a
// program file): every running program whose executable now lies at or below
// the target keeps the path it had before the move. A program already
// remembered keeps its first path; one started later is not affected.
void RememberMovedPrograms(const std::string& source, const std::string& target);
// The path process `pid` was started from as far as this process knows: the
// remembered one, else its executable's path now. False when neither can be
// read (ended, another user's, a kernel thread).
[[nodiscard]] bool ProgramPath(pid_t pid, std::string& path);
// When process `pid` started (clock ticks since boot), which tells it from a
// later process given the same id; 0 when unreadable.
unsigned long long ProcessStartTime(pid_t pid);

}  // namespace volok::platform::posix
