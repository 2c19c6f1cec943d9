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

namespace {

// After each replacement the search starts again, so a placeholder that the
// inserted value forms together with the text around it is replaced too
// ("{{Name}}" with Name = "Name" gives "Name"). A value that holds or keeps
// re-forming its own placeholder would make that endless, so a match must use
// at least one character of the text as it stood before this variable's turn:
// inserted characters alone never match again. Every replacement thus
// consumes original characters, and there are finitely many.
//
// Restarting the search from the first place a match could reach into the
// inserted value finds the leftmost valid match; since all matches have the
// token's length, that is the match that ends first. So the text is streamed
// once: each character goes to the output, and when the output ends with a
// valid match, the match is cut off and the value is fed in next, ahead of
// the rest of the text. The output keeps, per character, the matcher's state
// and how many original characters precede it, so cutting restores both.
//
// With `fold`, ASCII letters match either case; other bytes match exactly.
char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

class TokenReplacer final {
 public:
  TokenReplacer(std::string token, const std::string& value, bool fold)
      : FToken(std::move(token)), FValue(value), FFold(fold) {
    FFallback.assign(FToken.size() + 1, 0);
    for (std::size_t i = 1, k = 0; i < FToken.size(); ++i) {
      while (k > 0 && !Same(FToken[i], FToken[k])) k = FFallback[k];
      if (Same(FToken[i], FToken[k])) ++k;
      FFallback[i + 1] = k;
    }
  }

  std::string Replace(const std::string& text) {
    FOut.clear();
    FState.assign(1, 0);
    FOriginals.assign(1, 0);
    // Values still to be fed, innermost last, each with its next position.
    std::vector<std::size_t> pending;
    std::size_t next = 0;
    for (;;) {
      char c;
      bool original = pending.empty();
      if (original) {
        if (next == text.size()) return std::move(FOut);
        c = text[next++];
      } else if (pending.back() == FValue.size()) {
        pending.pop_back();
        continue;
      } else {
        c = FValue[pending.back()++];
      }
      if (Append(c, original)) {
        Cut();
        pending.push_back(0);
      }
    }
  }

 private:
  // True when the output now ends with the token and the token holds at
  // least one original character.
  bool Append(char c, bool original) {
    std::size_t k = FState.back();
    if (k == FToken.size()) k = FFallback[k];
    while (k > 0 && !Same(FToken[k], c)) k = FFallback[k];
    if (Same(FToken[k], c)) ++k;
    FOut += c;
    FState.push_back(k);
    FOriginals.push_back(FOriginals.back() + (original ? 1 : 0));
    std::size_t n = FOut.size();
    return k == FToken.size() && FOriginals[n] > FOriginals[n - FToken.size()];
  }

  bool Same(char a, char b) const { return FFold ? FoldAscii(a) == FoldAscii(b) : a == b; }

  void Cut() {
    std::size_t n = FOut.size() - FToken.size();
    FOut.resize(n);
    FState.resize(n + 1);
    FOriginals.resize(n + 1);
  }

  const std::string FToken;
  const std::string& FValue;
  const bool FFold;
  std::vector<std::size_t> FFallback;
  std::string FOut;
  std::vector<std::size_t> FState;
  std::vector<std::size_t> FOriginals;
};

std::string FoldedAscii(std::string text) {
  for (char& c : text) c = FoldAscii(c);
  return text;
}

}  // namespace

void TVariables::ReplaceVar(std::size_t index, std::string& text, bool fold) const {
  const TVariable& variable = FVariables[index];
  std::string token = "{" + variable.Name + "}";
  bool present = fold ? FoldedAscii(text).find(FoldedAscii(token)) != std::string::npos
                      : text.find(token) != std::string::npos;
  if (!present) return;
  text = TokenReplacer(std::move(token), variable.Value, fold).Replace(text);
}

void TVariables::Process(std::string& text) const {
  for (std::size_t i = 0; i < FVariables.size(); ++i) ReplaceVar(i, text, false);
}

void TVariables::ProcessPath(std::string& text) const {
  for (std::size_t i = 0; i < FVariables.size(); ++i) ReplaceVar(i, text, true);
}

std::string TVariables::ProcessF(const std::string& text) const {
  std::string copy = text;
  Process(copy);
  return copy;
}

void TVariables::Process(TInstallFile& file) const {
  std::string file_name = file.FileName(), destination = file.Destination();
  ProcessPath(file_name);
  ProcessPath(destination);
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


std::vector<std::string> TVariables::StandardNames() {
  std::vector<std::string> names;
  for (const SystemFolder& folder : kSystemFolders) names.push_back(folder.name);
  for (const char* name : {"Temp", "InstallerPath", "SID", "Company", "Name", "ShortName", "Version", "InstallPath"})
    names.push_back(name);
  return names;
}

std::vector<std::string> UnknownPlaceholders(const std::string& text, const std::vector<std::string>& known,
                                             bool ignore_case) {
  std::vector<std::string> unknown;
  for (std::size_t open = text.find('{'); open != std::string::npos; open = text.find('{', open + 1)) {
    std::size_t close = text.find('}', open + 1);
    if (close == std::string::npos) break;
    std::string name = text.substr(open + 1, close - open - 1);
    // "{" inside the name: the placeholder starts at the inner brace.
    if (name.empty() || name.find('{') != std::string::npos) continue;
    bool found = false;
    for (const std::string& candidate : known)
      found = found || (ignore_case ? FoldedAscii(candidate) == FoldedAscii(name) : candidate == name);
    if (!found) unknown.push_back("{" + name + "}");
  }
  return unknown;
}

}  // namespace volok
