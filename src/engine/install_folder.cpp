#include "engine/install_folder.h"

#include <algorithm>

#include "common/app_paths.h"
#include "common/error.h"
#include "common/file_utils.h"
#include "common/path_identity.h"
#include "common/text.h"
#include "platform/file_system.h"

namespace volok {

namespace {

// The spellings of one path that a guard compares: its plain absolute form
// and its identity (they differ for links, short names and substituted
// drives, and either may name the protected folder).
std::vector<std::string> Forms(const std::string& path, bool resolve_last) {
  std::vector<std::string> forms;
  std::string plain, full;
  if (!PlainPathSyntax(Trim(path), plain) || !platform::FileSystem::Default().FullPath(plain, full).ok()) return forms;
  forms.push_back(IsDriveRoot(full) ? full : ExcludeTrailingDelimiter(full));
  std::string identity = PathIdentity(path, resolve_last);
  if (!identity.empty()) forms.push_back(identity);
  return forms;
}

// The object ids of `path` and of every existing folder above it.
std::vector<std::string> ChainIds(const std::string& path) {
  std::vector<std::string> ids;
  auto& fs = platform::FileSystem::Default();
  std::string current = path;
  for (;;) {
    std::string id;
    if (fs.ObjectId(current, id).ok()) ids.push_back(id);
    if (IsDriveRoot(current)) break;
    std::string parent = ExcludeTrailingDelimiter(ExtractFilePath(current));
    if (parent.empty() || parent == current) break;
    current = parent;
  }
  return ids;
}

bool Contains(const std::vector<std::string>& ids, const std::string& id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// The same tests on the objects the paths reach, for links the identity
// cannot resolve (Wine's view of host links).
bool ProtectedObject(const std::string& full, const TGuardedFolders& guarded) {
  auto& fs = platform::FileSystem::Default();
  std::string id;
  std::vector<std::string> chain = ChainIds(full);
  for (const std::string& folder : guarded.Within)
    if (fs.ObjectId(folder, id).ok() && Contains(chain, id)) return true;
  if (!fs.ObjectId(full, id).ok()) return false;
  for (const std::string& folder : guarded.Above)
    for (const std::string& form : Forms(folder, true))
      if (Contains(ChainIds(form), id)) return true;
  return false;
}

bool Protected(const std::vector<std::string>& forms, const TGuardedFolders& guarded) {
  if (!forms.empty() && ProtectedObject(forms.front(), guarded)) return true;
  for (const std::string& form : forms) {
    if (IsDriveRoot(form)) return true;
    for (const std::string& folder : guarded.Above)
      for (const std::string& other : Forms(folder, true))
        if (IsSameOrBelow(other, form)) return true;
    for (const std::string& folder : guarded.Within)
      for (const std::string& other : Forms(folder, true))
        if (IsSameOrBelow(form, other)) return true;
  }
  return false;
}

bool ClimbsUp(const std::string& path) {
  std::string text = "\\" + path + "\\";
  for (char& c : text)
    if (c == '/') c = '\\';
  return text.find("\\..\\") != std::string::npos;
}

}  // namespace

std::string ResolveInstallFolder(const std::string& folder, const TGuardedFolders& guarded) {
  const volok::Error refused("Недопустимая папка установки: " + folder + ".");
  std::string text = Trim(folder);
  if (text.empty()) throw refused;
  std::vector<std::string> forms = Forms(text, true);
  if (forms.size() < 2 || Protected(forms, guarded)) throw refused;
  return forms.back();
}

bool MayDelete(const std::string& target, const TGuardedFolders& guarded, const std::string& install_folder,
               std::string& identity) {
  std::string text = Trim(target);
  if (text.empty()) return false;
  std::vector<std::string> forms = Forms(text, false);
  if (forms.size() < 2 || Protected(forms, guarded)) return false;
  if (ClimbsUp(text)) {
    std::string install = PathIdentity(install_folder);
    for (const std::string& form : forms)
      if (install.empty() || !IsSameOrBelow(form, install)) return false;
  }
  identity = forms.back();
  return true;
}

}  // namespace volok
