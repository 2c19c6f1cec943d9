// The guards of the install folder and of deletes. An install moves
// everything in its folder aside and writes there with administrator
// rights, and an uninstall deletes what its entries name, so both may reach
// only folders the engine may own. Every comparison is made on the path's
// identity (long names, links and junctions resolved, "\\?\" forms reduced)
// as well as on its plain absolute form, so no other spelling of a
// protected folder gets past.
#pragma once

#include <string>
#include <vector>

namespace volok {

struct TGuardedFolders {
  // Refused themselves and every folder above them: the special folders,
  // the temporary folder, the engine's own folder, the program-files roots.
  std::vector<std::string> Above;
  // Refused themselves and everything below them: the system's own folders.
  std::vector<std::string> Within;
};

// The guarded folders prepared for many questions: the spellings and
// object ids of each are looked up once.
class TFolderGuard final {
 public:
  explicit TFolderGuard(const TGuardedFolders& guarded);

  // Answers the identity of `folder` when an install may take it over: the
  // folder made absolute against the current folder, "." and ".." resolved,
  // links and short names resolved. Refuses, with the error
  // "Недопустимая папка установки: " + folder + ".", an empty folder, a
  // device or object-namespace path ("\\.\", "\??\"), a drive root ("X:\",
  // "X:", "\", "\\server\share"), a folder of `Above` or one above it, and
  // a folder of `Within` or one below it.
  std::string ResolveInstallFolder(const std::string& folder) const;

  // Whether a DeleteFile or DeleteFolder entry may remove `target`; on
  // true, `identity` is what to delete (its folder resolved, its last
  // segment kept, so a link is deleted as a link). Refused: what
  // ResolveInstallFolder refuses, and, when `target` climbs with a ".."
  // segment, anything outside `install_folder` (an entry may name any other
  // allowed folder only explicitly).
  [[nodiscard]] bool MayDelete(const std::string& target, const std::string& install_folder,
                               std::string& identity) const;

 private:
  bool Protected(const std::vector<std::string>& forms) const;

  std::vector<std::string> FAboveForms, FWithinForms;
  std::vector<std::string> FAboveChainIds;  // the guarded folders and every folder above them
  std::vector<std::string> FWithinIds;
};

// One-question forms of the guard's two answers.
std::string ResolveInstallFolder(const std::string& folder, const TGuardedFolders& guarded);
[[nodiscard]] bool MayDelete(const std::string& target, const TGuardedFolders& guarded,
                             const std::string& install_folder, std::string& identity);

}  // namespace volok
