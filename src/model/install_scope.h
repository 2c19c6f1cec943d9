// For whom a program is installed: every user of the machine (files under
// {ProgramFiles}, the Add/Remove entry under HKEY_LOCAL_MACHINE, rights of
// an administrator) or the running user alone (files under
// {LocalAppData}\Programs, the entry under HKEY_CURRENT_USER, no rights
// asked). A description fixes one of the two or lets the run choose.
#pragma once

#include <string>
#include <vector>

namespace volok {

enum class TInstallScope { Machine, User, Either };

// The run's /allusers or /currentuser switch.
enum class TScopeSwitch { None, AllUsers, CurrentUser };

// "machine", "user" or "either", any case; an empty text is Machine, the
// scope of every description written before the choice existed. False for
// anything else.
[[nodiscard]] bool ParseInstallScope(const std::string& text, TInstallScope& scope);
const char* InstallScopeName(TInstallScope scope);

struct TScopeChoice {
  TInstallScope Scope = TInstallScope::Machine;  // Machine or User, never Either
  std::string Error;  // the switch contradicts the described scope; "" otherwise
};

// The scope a run takes, as Windows Installer and Inno Setup decide it: a
// fixed scope stays (a switch that asks for the other one is an error); for
// Either a switch decides, else the scope of the copy already installed
// (`installed`: Either when there is none), else an elevated run installs
// for the machine and any other for its user.
TScopeChoice ChooseScope(TInstallScope described, TScopeSwitch requested, bool elevated,
                         TInstallScope installed = TInstallScope::Either);

// The variables that name folders of every user of the machine, which a
// per-user run may not write: {ProgramFiles} and the common folders.
const std::vector<std::string>& MachineFolderVariables();

// The install folder a per-user run gives a description written for
// {ProgramFiles}: "{ProgramFiles}\App" becomes "{LocalAppData}\Programs\App"
// (the placeholder's letters in either case); any other text stays.
std::string UserInstallPath(const std::string& described);

}  // namespace volok
