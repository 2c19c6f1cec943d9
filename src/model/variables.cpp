#include "model/variables.h"

#include "common/file_utils.h"
#include "common/system_info.h"
#include "common/text.h"
#include "model/install_file.h"

namespace volok {

namespace {

using platform::SpecialFolderId;

struct SystemFolder {
  const char* name;
  SpecialFolderId id;
};

// The order is the order of substitution, so LocalAppData stays after
// CommonAppData as descriptions have always seen it.
constexpr SystemFolder kSystemFolders[] = {
    {"Programs", SpecialFolderId::Programs},
    {"Documents", SpecialFolderId::Personal},
    {"Favorites", SpecialFolderId::Favorites},
    {"StartUp", SpecialFolderId::StartUp},
    {"Recent", SpecialFolderId::Recent},
    {"SendTo", SpecialFolderId::SendTo},
    {"StartMenu", SpecialFolderId::StartMenu},
    {"Desktop", SpecialFolderId::DesktopDirectory},
    {"NetHood", SpecialFolderId::NetHood},
    {"Fonts", SpecialFolderId::Fonts},
    {"Templates", SpecialFolderId::Templates},
    {"CommonStartMenu", SpecialFolderId::CommonStartMenu},
    {"CommonPrograms", SpecialFolderId::CommonPrograms},
    {"CommonStartUp", SpecialFolderId::CommonStartUp},
    {"CommonDesktop", SpecialFolderId::CommonDesktopDirectory},
    {"AppData", SpecialFolderId::AppData},
    {"PrintHood", SpecialFolderId::PrintHood},
    {"CommonFavorites", SpecialFolderId::CommonFavorites},
    {"InternetCache", SpecialFolderId::InternetCache},
    {"Cookies", SpecialFolderId::Cookies},
    {"History", SpecialFolderId::History},
    {"CommonAppData", SpecialFolderId::CommonAppData},
    {"LocalAppData", SpecialFolderId::LocalAppData},
    {"Windows", SpecialFolderId::Windows},
    {"System", SpecialFolderId::System},
    {"ProgramFiles", SpecialFolderId::ProgramFiles},
    {"Pictures", SpecialFolderId::MyPictures},
    {"ProgramFilesCommon", SpecialFolderId::ProgramFilesCommon},
    {"CommonDocuments", SpecialFolderId::CommonDocuments},
    {"CommonAdminTools", SpecialFolderId::CommonAdminTools},
    {"AdminTools", SpecialFolderId::AdminTools},
};

}  // namespace

int TVariables::Find(const std::string& name) const {
  std::string wanted = LowerCase(name);
  for (std::size_t i = 0; i < FVariables.size(); ++i)
    if (LowerCase(FVariables[i].Name) == wanted) return static_cast<int>(i);
  return -1;
}

void TVariables::Add(const std::string& name, const std::string& value) {
  int index = Find(name);
  if (index < 0) {
    FVariables.push_back({name, value});
  } else {
    FVariables[static_cast<std::size_t>(index)].Value = value;
  }
}

// After each replacement the search starts again, so a placeholder that the
// inserted value forms together with the text around it is replaced too
// ("{{Name}}" with Name = "Name" gives "Name"). A value that holds or keeps
// re-forming its own placeholder would make that endless, so a match must use
// at least one character of the text as it stood before this variable's turn:
// inserted characters alone never match again. Every replacement thus
// consumes original characters, and there are finitely many.
void TVariables::ReplaceVar(std::size_t index, std::string& text) const {
  const TVariable& variable = FVariables[index];
  const std::string token = "{" + variable.Name + "}";
  std::vector<bool> original(text.size(), true);
  std::size_t from = 0;
  for (;;) {
    std::size_t at = text.find(token, from);
    while (at != std::string::npos) {
      bool uses_original = false;
      for (std::size_t i = at; i < at + token.size() && !uses_original; ++i) uses_original = original[i];
      if (uses_original) break;
      at = text.find(token, at + 1);
    }
    if (at == std::string::npos) return;
    text.replace(at, token.size(), variable.Value);
    original.erase(original.begin() + static_cast<std::ptrdiff_t>(at),
                   original.begin() + static_cast<std::ptrdiff_t>(at + token.size()));
    original.insert(original.begin() + static_cast<std::ptrdiff_t>(at), variable.Value.size(), false);
    // Nothing before `at` matched, and the text there has not changed: only a
    // placeholder reaching into the inserted value can start earlier.
    from = at >= token.size() ? at - token.size() + 1 : 0;
  }
}

void TVariables::Process(std::string& text) const {
  for (std::size_t i = 0; i < FVariables.size(); ++i) ReplaceVar(i, text);
}

std::string TVariables::ProcessF(const std::string& text) const {
  std::string copy = text;
  Process(copy);
  return copy;
}

void TVariables::Process(TInstallFile& file) const {
  std::string file_name = file.FileName(), destination = file.Destination();
  Process(file_name);
  Process(destination);
  file.SetFileName(std::move(file_name));
  file.SetDestination(std::move(destination));
}

void TVariables::ReadSystemPaths() {
  for (const SystemFolder& folder : kSystemFolders) Add(folder.name, GetSpecialFolder(folder.id));
  Add("Temp", GetTempFolder());
}

std::vector<std::string> TVariables::SystemFolders() const {
  std::vector<std::string> folders;
  auto add = [&](const char* name) {
    int index = Find(name);
    if (index >= 0 && !FVariables[static_cast<std::size_t>(index)].Value.empty())
      folders.push_back(FVariables[static_cast<std::size_t>(index)].Value);
  };
  for (const SystemFolder& folder : kSystemFolders) add(folder.name);
  add("Temp");
  return folders;
}

}  // namespace volok
