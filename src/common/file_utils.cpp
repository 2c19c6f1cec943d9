#include "common/file_utils.h"

#include <random>
#include <vector>

#include "common/app_paths.h"
#include "common/text.h"
#include "platform/file_system.h"
#include "platform/private_folder.h"

namespace volok {

namespace {

using platform::FileSystem;

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

bool IsDriveRoot(const std::string& path) {
  std::string full = ExcludeTrailingDelimiter(path);
  if (full.empty() || full == "\\") return true;
  if (full.size() == 2 && IsDriveLetter(full[0]) && full[1] == ':') return true;
  if (full.size() > 2 && full[0] == '\\' && full[1] == '\\') {
    std::size_t server_end = full.find('\\', 2);
    return server_end == std::string::npos || full.find('\\', server_end + 1) == std::string::npos;
  }
  return false;
}

std::string IncludeTrailingDelimiter(const std::string& path) {
  return !path.empty() && path.back() == '\\' ? path : path + "\\";
}

std::string ExcludeTrailingDelimiter(const std::string& path) {
  return !path.empty() && path.back() == '\\' ? path.substr(0, path.size() - 1) : path;
}

bool HasWildcard(const std::string& mask) { return mask.find_first_of("*?") != std::string::npos; }

bool MatchesMask(const std::string& name, const std::string& mask) {
  if (mask == "*" || mask == "*.*") return true;
  if (mask.size() > 2 && mask.compare(mask.size() - 2, 2, ".*") == 0 &&
      MatchesMask(name, mask.substr(0, mask.size() - 2)))
    return true;
  auto code_points = [](const std::string& utf8) {
    std::string lower = LowerCase(utf8);
    std::u32string out;
    for (std::size_t pos = 0; pos < lower.size();) out += NextCodePoint(lower, pos);
    return out;
  };
  const std::u32string text = code_points(name), pattern = code_points(mask);
  // Greedy matching with one remembered star: linear in practice, and no
  // recursion for long names.
  std::size_t t = 0, p = 0, star = std::u32string::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == text[t])) {
      ++t;
      ++p;
    } else if (p < pattern.size() && pattern[p] == U'*') {
      star = p++;
      resume = t;
    } else if (star != std::u32string::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == U'*') ++p;
  return p == pattern.size();
}

bool DeleteFolder(const std::string& path, bool permanent) {
  if (HasWildcard(path)) return false;
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

std::string MakeFreshFolder(const std::string& parent, const std::string& prefix, bool private_folder) {
  std::random_device device;
  std::uniform_int_distribution<unsigned> digit(0, 35);
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::string name = prefix;
    for (int i = 0; i < 16; ++i) {
      unsigned d = digit(device);
      name += static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
    }
    std::string folder = IncludeTrailingDelimiter(parent) + name;
    platform::Status made =
        private_folder ? platform::MakePrivateFolder(folder) : FileSystem::Default().MakeFolder(folder);
    if (made.ok()) return IncludeTrailingDelimiter(folder);
  }
  return {};
}

std::string GetTempFolder() {
  std::string folder;
  if (!platform::FileSystem::Default().TempFolderPath(folder).ok()) return {};
  return ExcludeTrailingDelimiter(folder);
}

bool FolderEntryOf(const std::string& path, platform::FileEntry& entry) {
  std::vector<platform::FileEntry> entries;
  if (!platform::FileSystem::Default().ListFolder(ExtractFilePath(path), entries).ok()) return false;
  const std::string name = LowerCase(ExtractFileName(path));
  for (const platform::FileEntry& candidate : entries)
    if (LowerCase(candidate.Name) == name) {
      entry = candidate;
      return true;
    }
  return false;
}

}  // namespace volok
