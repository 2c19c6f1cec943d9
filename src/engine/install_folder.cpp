#include "engine/install_folder.h"

#include "common/error.h"
#include "common/file_utils.h"
#include "common/text.h"
#include "platform/file_system.h"

namespace volok {

namespace {

// The comparable form of an absolute path: lower case, no trailing delimiter.
std::string Key(std::string full) {
  while (full.size() > 1 && full.back() == '\\') full.pop_back();
  return LowerCase(full);
}

bool SameOrAbove(const std::string& key, const std::string& guarded_key) {
  return guarded_key == key || guarded_key.rfind(key + "\\", 0) == 0;
}

}  // namespace

std::string ResolveInstallFolder(const std::string& folder, const std::vector<std::string>& guarded) {
  const volok::Error refused("Недопустимая папка установки: " + folder + ".");
  std::string text = Trim(folder);
  // "C:" alone names the current folder of drive C, which full-path
  // expansion would quietly accept; as typed it means the drive.
  if (IsDriveRoot(text)) throw refused;
  auto& fs = platform::FileSystem::Default();
  std::string full;
  if (!fs.FullPath(text, full).ok()) throw refused;
  if (IsDriveRoot(full)) throw refused;
  const std::string key = Key(full);
  for (const std::string& other : guarded) {
    std::string other_full;
    if (other.empty() || !fs.FullPath(other, other_full).ok()) continue;
    if (SameOrAbove(key, Key(other_full))) throw refused;
  }
  return ExcludeTrailingDelimiter(full);
}

}  // namespace volok
