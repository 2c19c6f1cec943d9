#include "common/file_utils.h"

#include "common/text.h"
#include "platform/file_system.h"

namespace volok {

namespace {

using platform::FileSystem;

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "C:", "\\" (the root of the current drive) and "\\\\server\\share": what is
// left of a full path naming a whole drive once its delimiter is removed.
bool IsDriveRoot(const std::string& full) {
  if (full.empty() || full == "\\") return true;
  if (full.size() == 2 && IsDriveLetter(full[0]) && full[1] == ':') return true;
  if (full.size() > 2 && full[0] == '\\' && full[1] == '\\') {
    std::size_t server_end = full.find('\\', 2);
    return server_end == std::string::npos || full.find('\\', server_end + 1) == std::string::npos;
  }
  return false;
}

}  // namespace

std::string IncludeTrailingDelimiter(const std::string& path) {
  return !path.empty() && path.back() == '\\' ? path : path + "\\";
}

std::string ExcludeTrailingDelimiter(const std::string& path) {
  return !path.empty() && path.back() == '\\' ? path.substr(0, path.size() - 1) : path;
}

bool DeleteFolder(const std::string& path, bool permanent) {
  FileSystem& fs = FileSystem::Default();
  std::string full;
  if (!fs.FullPath(path, full).ok()) return false;
  full = ExcludeTrailingDelimiter(full);
  if (IsDriveRoot(full)) return false;
  return fs.ShellDelete(full, permanent).ok();
}

bool ForceFolders(const std::string& path) {
  if (path.empty()) return true;
  std::string folder = ExcludeTrailingDelimiter(path);
  // The two-character rule counts characters, not bytes.
  if (CodePointCount(folder) < 3) return true;
  FileSystem& fs = FileSystem::Default();
  if (fs.FolderExists(folder)) return true;
  std::size_t last = folder.find_last_of("\\:");
  std::string parent = last == std::string::npos ? std::string() : folder.substr(0, last + 1);
  if (parent == folder) return true;
  return ForceFolders(parent) && fs.MakeFolder(folder).ok();
}

std::string GetTempFolder() {
  std::string folder;
  if (!platform::FileSystem::Default().TempFolderPath(folder).ok()) return {};
  return ExcludeTrailingDelimiter(folder);
}

}  // namespace volok
