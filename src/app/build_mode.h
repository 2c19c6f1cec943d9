// The headless build: "setup build [engine]" builds the package of
// "installer.xml" in the current folder into "output-installer" without a
// window, for scripts and CI.
#pragma once

#include <string>
#include <vector>

namespace volok {

// Every builder line goes to standard output in the log view's form and to
// the log file. Parameter 2, when not blank, is the engine executable to
// ship as "setup.exe" instead of the running one (a Linux host builds a
// Windows package with the Windows engine). 0 when the package was created,
// warnings included; 1 otherwise.
int RunBuild(const std::vector<std::string>& parameters);

}  // namespace volok
