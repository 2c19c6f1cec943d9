#include "app/run_switches.h"

#include <cstddef>

#include "common/text.h"

namespace volok {

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool IsSilentSwitch(const std::string& name) {
  for (const char* word : {"s", "silent", "verysilent", "quiet", "qn"})
    if (name == word) return true;
  return false;
}

// The switches ReadSwitch knows, values aside.
bool IsKnownSwitch(const std::string& name) {
  if (IsSilentSwitch(name)) return true;
  for (const char* word : {"passive", "norestart", "suppressmsgboxes", "allowdowngrade", "log", "allusers", "currentuser"})
    if (name == word) return true;
  for (const char* prefix : {"log=", "dir=", "d="})
    if (StartsWith(name, prefix)) return true;
  return false;
}

// A word that starts like a switch but goes on like a path ("/opt/app",
// "//?/C:/App"): after "silent" it is the folder it always was.
bool HoldsPath(const std::string& word) { return word.find_first_of("/\\", 1) != std::string::npos; }

class TParser {
 public:
  TParser(const std::vector<std::string>& parameters, const std::vector<std::string>& rests)
      : FParameters(parameters), FRests(rests) {}

  TRunSwitches Parse() {
    for (FIndex = 1; FIndex < FParameters.size() && FSwitches.Error.empty(); ++FIndex) Read(FParameters[FIndex]);
    if (FSwitches.Error.empty() && FSwitches.Create && FSwitches.Silent)
      FSwitches.Error = "Параметр create несовместим с установкой без окна.";
    return FSwitches;
  }

 private:
  void Read(const std::string& parameter) {
    const std::string trimmed = Trim(parameter), lower = LowerCase(trimmed);
    // The builder's word is compared as it stands: " create" is not it.
    if (FIndex == 1 && LowerCase(parameter) == "create") {
      FSwitches.Create = true;
    } else if (lower == "silent") {
      FSwitches.Silent = true;
      FFolderMayFollow = FIndex == 1;
    } else if (!trimmed.empty() && (trimmed[0] == '/' || trimmed[0] == '-') &&
               !(FIndex == 2 && FFolderMayFollow && !IsKnownSwitch(lower.substr(1)) && HoldsPath(trimmed))) {
      ReadSwitch(parameter, trimmed, lower.substr(1));
    } else if (StartsWith(lower, "installdir=")) {
      SetFolder(trimmed.substr(11), parameter);
    } else if (FIndex == 2 && FFolderMayFollow) {
      // The folder after "silent" is taken as it always was; an empty one
      // keeps the description's.
      SetFolder(trimmed, parameter);
    } else if (FIndex != 1 && !trimmed.empty()) {
      // Parameter 1 that is no known word is ignored, as it always was;
      // any other word would otherwise be taken for something it is not.
      FSwitches.Error = "Лишний параметр командной строки: " + parameter;
    }
  }

  void ReadSwitch(const std::string& parameter, const std::string& trimmed, const std::string& name) {
    if (IsSilentSwitch(name)) {
      FSwitches.Silent = true;
    } else if (name == "passive") {
      FSwitches.Passive = true;
    } else if (name == "norestart") {
      FSwitches.NoRestart = true;
    } else if (name == "suppressmsgboxes") {
      FSwitches.SuppressMsgBoxes = true;
    } else if (name == "allowdowngrade") {
      FSwitches.AllowDowngrade = true;
    } else if (name == "closeapplications") {
      FSwitches.CloseApplications = true;
    } else if (name == "restartapplications") {
      FSwitches.RestartApplications = true;
    } else if (name == "allusers" || name == "currentuser") {
      SetScope(name == "allusers" ? TScopeSwitch::AllUsers : TScopeSwitch::CurrentUser);
    } else if (name == "log") {
      if (FIndex + 1 >= FParameters.size()) {
        FSwitches.Error = "Не указан файл журнала после " + parameter;
        return;
      }
      SetLog(FParameters[++FIndex], parameter);
    } else if (StartsWith(name, "log=")) {
      SetLog(trimmed.substr(5), parameter);
    } else if (StartsWith(name, "dir=")) {
      SetFolder(trimmed.substr(5), parameter);
    } else if (StartsWith(name, "d=")) {
      // As NSIS: the last parameter, the rest of the line as it stands, so a
      // folder with blanks needs no quotes. Quotes cannot be part of a path.
      std::string rest;
      for (char c : Rest(FIndex))
        if (c != '"') rest += c;
      rest = Trim(rest);
      SetFolder(rest.substr(rest.find('=') + 1), parameter);
      FIndex = FParameters.size();
    } else {
      FSwitches.Error = "Неизвестный параметр командной строки: " + parameter;
    }
  }

  void SetFolder(const std::string& folder, const std::string& parameter) {
    if (FFolderGiven) {
      FSwitches.Error = "Папка установки указана более одного раза: " + parameter;
      return;
    }
    FFolderGiven = true;
    FSwitches.InstallFolder = Trim(folder);
  }

  void SetScope(TScopeSwitch scope) {
    if (FSwitches.Scope != TScopeSwitch::None && FSwitches.Scope != scope)
      FSwitches.Error = "Параметры /allusers и /currentuser несовместимы.";
    FSwitches.Scope = scope;
  }

  void SetLog(const std::string& file, const std::string& parameter) {
    std::string trimmed = Trim(file);
    if (trimmed.empty() || !FSwitches.LogFile.empty()) {
      FSwitches.Error = (trimmed.empty() ? "Не указан файл журнала после " : "Файл журнала указан более одного раза: ") +
                        parameter;
      return;
    }
    FSwitches.LogFile = trimmed;
  }

  std::string Rest(std::size_t index) const {
    if (FRests.size() == FParameters.size()) return FRests[index];
    std::string rest;
    for (std::size_t i = index; i < FParameters.size(); ++i) rest += (i > index ? " " : "") + FParameters[i];
    return rest;
  }

  const std::vector<std::string>& FParameters;
  const std::vector<std::string>& FRests;
  std::size_t FIndex = 1;
  bool FFolderMayFollow = false;
  bool FFolderGiven = false;
  TRunSwitches FSwitches;
};

}  // namespace

TRunSwitches ParseRunSwitches(const std::vector<std::string>& parameters, const std::vector<std::string>& rests) {
  // The elevated run's mark comes first, so that the command line after it
  // reads as the one the user gave ("silent" still parameter 1).
  if (parameters.size() >= 2 && LowerCase(parameters[1]) == "/elevated") {
    std::vector<std::string> rest_parameters(parameters), rest_rests(rests);
    rest_parameters.erase(rest_parameters.begin() + 1);
    if (rest_rests.size() == parameters.size()) rest_rests.erase(rest_rests.begin() + 1);
    TRunSwitches switches = TParser(rest_parameters, rest_rests).Parse();
    switches.ElevatedRelaunch = true;
    return switches;
  }
  return TParser(parameters, rests).Parse();
}

}  // namespace volok
