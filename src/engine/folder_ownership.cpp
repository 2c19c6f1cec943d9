#include "engine/folder_ownership.h"

#include <vector>

#include "common/crypt.h"
#include "common/file_utils.h"
#include "common/path_identity.h"
#include "common/text.h"
#include "common/text_file.h"
#include "model/install.h"
#include "platform/file_system.h"

namespace volok {

namespace {

bool NamesProgram(const std::string& description, const std::string& short_name) {
  try {
    TInstall earlier;
    earlier.ReadXml(DecryptText(ReadTextFile(description)));
    return !short_name.empty() && LowerCase(earlier.ShortName()) == LowerCase(short_name);
  } catch (...) {
    return false;  // unreadable: nothing proves it is ours
  }
}

}  // namespace

TFolderContent InspectInstallFolder(const std::string& folder, const std::string& short_name,
                                    const std::string& registered_location) {
  auto& fs = platform::FileSystem::Default();
  std::vector<platform::FileEntry> entries;
  if (!fs.FolderExists(folder) || !fs.ListFolder(folder, entries).ok()) return TFolderContent::Nothing;
  bool only_log = true;
  for (const platform::FileEntry& entry : entries)
    if (entry.IsFolder || LowerCase(entry.Name) != "setup.log") only_log = false;
  if (only_log) return TFolderContent::Nothing;
  if (NamesProgram(IncludeTrailingDelimiter(folder) + "uninstall.xml", short_name))
    return TFolderContent::EarlierInstall;
  if (!registered_location.empty() && IsSameFolder(registered_location, folder)) return TFolderContent::EarlierInstall;
  return TFolderContent::Foreign;
}

}  // namespace volok
