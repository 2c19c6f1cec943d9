// A machine-wide run started without administrator rights asks for them
// as other installers do: the program starts itself again through the
// system's elevation prompt, with the same command line, and answers that
// run's exit code. A per-user run never asks.
#pragma once

#include <string>
#include <vector>

#include "model/install_scope.h"

namespace volok {

// The command line's arguments as the elevated copy gets them: "/elevated"
// (so that it never asks again), then `rests[1]` as it stands (the raw
// command line after the program; /D= stays the last), else the
// parameters from 1 on, each quoted when it holds a blank or is empty.
std::string ElevatedArguments(const std::vector<std::string>& parameters, const std::vector<std::string>& rests);

// When `scope` is Machine and the process has no administrator rights
// (platform::Security): runs ExeFileName() with `arguments` elevated,
// waits for it and gives its exit code in `exit_code`, true. False when no
// elevated run took place: the rights are there, the scope is the user's,
// or the user declined (the run goes on and refuses as it would without
// rights; `failure` says why the elevation failed).
bool RunElevatedForScope(TInstallScope scope, const std::string& arguments, int& exit_code, std::string& failure);

}  // namespace volok
