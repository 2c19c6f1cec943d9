#include "model/install_scope.h"

#include "common/text.h"

namespace volok {

namespace {

constexpr char kProgramFiles[] = "{programfiles}";

bool StartsWithFolded(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

std::string Contradiction(TInstallScope described, TScopeSwitch requested) {
  const bool machine = described == TInstallScope::Machine;
  return std::string("Параметр ") + (requested == TScopeSwitch::AllUsers ? "/allusers" : "/currentuser") +
         " противоречит описанию установки: программа устанавливается только " +
         (machine ? "для всех пользователей (Scope = machine)." : "для текущего пользователя (Scope = user).");
}

}  // namespace

bool ParseInstallScope(const std::string& text, TInstallScope& scope) {
  const std::string word = LowerCase(Trim(text));
  if (word.empty() || word == "machine")
    scope = TInstallScope::Machine;
  else if (word == "user")
    scope = TInstallScope::User;
  else if (word == "either")
    scope = TInstallScope::Either;
  else
    return false;
  return true;
}

const char* InstallScopeName(TInstallScope scope) {
  switch (scope) {
    case TInstallScope::User: return "user";
    case TInstallScope::Either: return "either";
    default: return "machine";
  }
}

TScopeChoice ChooseScope(TInstallScope described, TScopeSwitch requested, bool elevated, TInstallScope installed) {
  TScopeChoice choice;
  if (described != TInstallScope::Either) {
    choice.Scope = described;
    const bool asks_other = (requested == TScopeSwitch::AllUsers && described == TInstallScope::User) ||
                            (requested == TScopeSwitch::CurrentUser && described == TInstallScope::Machine);
    if (asks_other) choice.Error = Contradiction(described, requested);
  } else if (requested != TScopeSwitch::None) {
    choice.Scope = requested == TScopeSwitch::AllUsers ? TInstallScope::Machine : TInstallScope::User;
  } else if (installed != TInstallScope::Either) {
    choice.Scope = installed;
  } else {
    choice.Scope = elevated ? TInstallScope::Machine : TInstallScope::User;
  }
  return choice;
}

const std::vector<std::string>& MachineFolderVariables() {
  static const std::vector<std::string> names = {
      "ProgramFiles",    "ProgramFilesCommon", "CommonStartMenu",  "CommonPrograms", "CommonStartUp", "CommonDesktop",
      "CommonAppData",   "CommonFavorites",    "CommonDocuments",  "CommonAdminTools", "Windows",     "System"};
  return names;
}

std::string UserInstallPath(const std::string& described) {
  const std::string prefix = kProgramFiles;
  if (!StartsWithFolded(described, prefix)) return described;
  return "{LocalAppData}\\Programs" + described.substr(prefix.size());
}

}  // namespace volok
