// Standard output for a run that has no window but may have a console: the
// headless build prints its log lines there.
#pragma once

#include <string>

namespace volok::platform {

// Windows: a GUI program gets no console of its own. Keeps standard output
// when it was redirected to a file or pipe; otherwise attaches to the
// parent's console (AttachConsole(ATTACH_PARENT_PROCESS)) when there is one.
// POSIX: nothing to do.
void AttachParentConsole();
// Writes `line` (UTF-8) and a line end to standard output: UTF-16 into a
// console, UTF-8 bytes into a file or pipe. Failures pass silently.
void WriteStdOutLine(const std::string& line);

}  // namespace volok::platform
