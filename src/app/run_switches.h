// The switches an installer run understands: the words scripts and
// deployment tools (Intune, Configuration Manager, winget) pass, read the
// way NSIS, Inno Setup and Windows Installer users expect. Parsing never
// fails silently: whatever is not understood makes Error, and the run does
// nothing but print the usage.
#pragma once

#include <string>
#include <vector>

#include "model/install_scope.h"

namespace volok {

struct TRunSwitches {
  // silent, /S, /silent, /verysilent, /quiet, /qn (any case, "/" or "-").
  bool Silent = false;
  // /passive: the wizard runs by itself and only shows its progress.
  bool Passive = false;
  // The word "create" as parameter 1, not trimmed: the builder's button.
  bool Create = false;
  // The install folder: parameter 2 after "silent", /D=, /DIR=, INSTALLDIR=
  // (trimmed, "" when none was given or it was empty).
  std::string InstallFolder;
  // /log=<file> or /log <file>: the run's log is written there as well.
  std::string LogFile;
  bool NoRestart = false;         // /norestart: the engine never restarts anyway
  bool SuppressMsgBoxes = false;  // /suppressmsgboxes: no message box waits for an answer
  bool AllowDowngrade = false;    // /allowdowngrade: an older version may replace a newer one
  // /closeapplications: programs holding files of the install folder are
  // closed instead of failing the silent run; /restartapplications: started
  // again after it.
  bool CloseApplications = false;
  bool RestartApplications = false;
  // /allusers: install for every user of the machine (with administrator
  // rights); /currentuser: for the running user alone, without them.
  TScopeSwitch Scope = TScopeSwitch::None;
  // "/elevated" as parameter 1 (before the user's command line): the run
  // that an unelevated one started with administrator rights; it never
  // asks for them again, whatever it got.
  bool ElevatedRelaunch = false;
  // Why the command line is refused (an unknown switch, an extra word, a
  // switch without its value, two folders); "" when it is understood.
  std::string Error;

  // No window may open: a silent switch was given.
  bool Unattended() const { return Silent; }
};

// `parameters` as the program's splitter gives them (parameter 0 is the
// program); `rests[i]` the raw command line from parameter i's first
// character to its end (for /D=, which takes the rest as it stands, blanks
// included). Without rests (or of another size) each rest is the
// parameters from i on joined by one blank.
TRunSwitches ParseRunSwitches(const std::vector<std::string>& parameters,
                              const std::vector<std::string>& rests = {});

}  // namespace volok
