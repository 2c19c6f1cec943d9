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

bool ClimbsUp(const std::string& path) {
  std::string text = "\\" + path + "\\";
  for (char& c : text)
    if (c == '/') c = '\\';
  return text.find("\\..\\") != std::string::npos;
}

}  // namespace

TFolderGuard::TFolderGuard(const TGuardedFolders& guarded) {
  auto& fs = platform::FileSystem::Default();
  for (const std::string& folder : guarded.Above)
    for (const std::string& form : Forms(folder, true)) {
      FAboveForms.push_back(form);
      for (const std::string& id : ChainIds(form))
        if (!Contains(FAboveChainIds, id)) FAboveChainIds.push_back(id);
    }
  for (const std::string& folder : guarded.Within) {
    for (const std::string& form : Forms(folder, true)) FWithinForms.push_back(form);
    std::string id;
    if (fs.ObjectId(folder, id).ok()) FWithinIds.push_back(id);
  }
}

bool TFolderGuard::Protected(const std::vector<std::string>& forms) const {
  // An alias or an address of this machine is no name a list holds, so a
  // drive's administrative share on any server is judged by that drive's
  // folders too, which a guard refuses on any machine alike.
  std::vector<std::string> judged = forms;
  std::string drive;
  for (const std::string& form : forms)
    if (AdministrativeShareAsDrive(form, drive)) judged.push_back(drive);
  for (const std::string& form : judged) {
    if (IsDriveRoot(form)) return true;
    for (const std::string& other : FAboveForms)
      if (IsSameOrBelow(other, form)) return true;
    for (const std::string& other : FWithinForms)
      if (IsSameOrBelow(form, other)) return true;
  }
  // The same tests on the objects the paths reach, for links the identity
  // cannot resolve.
  if (forms.empty()) return false;
  std::string id;
  if (platform::FileSystem::Default().ObjectId(forms.front(), id).ok() && Contains(FAboveChainIds, id)) return true;
  for (const std::string& chain_id : ChainIds(forms.front()))
    if (Contains(FWithinIds, chain_id)) return true;
  return false;
}

std::string TFolderGuard::ResolveInstallFolder(const std::string& folder) const {
  const volok::Error refused("Недопустимая папка установки: " + folder + ".");
  std::string text = Trim(folder);
  if (text.empty()) throw refused;
  std::vector<std::string> forms = Forms(text, true);
  if (forms.size() < 2 || Protected(forms)) throw refused;
  return forms.back();
}

bool TFolderGuard::MayDelete(const std::string& target, const std::string& install_folder,
                             std::string& identity) const {
  std::string text = Trim(target);
  if (text.empty()) return false;
  std::vector<std::string> forms = Forms(text, false);
  if (forms.size() < 2 || Protected(forms)) return false;
  if (ClimbsUp(text)) {
    std::string install = PathIdentity(install_folder);
    for (const std::string& form : forms)
      if (install.empty() || !IsSameOrBelow(form, install)) return false;
  }
  identity = forms.back();
  return true;
}

std::string ResolveInstallFolder(const std::string& folder, const TGuardedFolders& guarded) {
  return TFolderGuard(guarded).ResolveInstallFolder(folder);
}

bool MayDelete(const std::string& target, const TGuardedFolders& guarded, const std::string& install_folder,
               std::string& identity) {
  return TFolderGuard(guarded).MayDelete(target, install_folder, identity);
}

}  // namespace volok
