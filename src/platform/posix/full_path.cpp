#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/posix/file_helpers.h"
#include "platform/posix/path_map.h"

namespace volok::platform::posix {

namespace {

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool CurrentFolder(std::string& folder) {
  std::vector<char> buffer(4096);
  while (!::getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE) return false;
    buffer.resize(buffer.size() * 2);
  }
  folder = FromNativePath(buffer.data());
  return true;
}

// Splits `path` (backslashes only) into its root ("Z:", "\\server\share")
// and the rest, making a relative path absolute first.
bool SplitRoot(const std::string& path, std::string& root, std::string& rest) {
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
    std::size_t server_end = path.find('\\', 2);
    std::size_t share_end = server_end == std::string::npos ? server_end : path.find('\\', server_end + 1);
    root = path.substr(0, share_end);
    rest = share_end == std::string::npos ? "" : path.substr(share_end);
    return true;
  }
  if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == ':') {
    // A drive-relative "X:name" starts at that drive's root, as the path
    // mapping does for Z: (no drive here has a current folder of its own).
    root = path.substr(0, 2);
    rest = "\\" + path.substr(2);
    return true;
  }
  if (!path.empty() && path[0] == '\\') {
    root = "Z:";
    rest = path;
    return true;
  }
  std::string current;
  if (!CurrentFolder(current)) return false;
  return SplitRoot(current + "\\" + path, root, rest);
}

}  // namespace

Status WindowsFullPath(const std::string& path, std::string& full) {
  if (path.empty()) return Status::Failure("Пустое имя файла");
  std::string text = path;
  for (char& c : text)
    if (c == '/') c = '\\';
  std::string root, rest;
  if (!SplitRoot(text, root, rest)) return Status::Failure(ErrnoMessage(errno, "."));
  std::vector<std::string> segments = ResolveDots(rest, '\\', false);
  full = root;
  for (const std::string& segment : segments) full += "\\" + segment;
  if (segments.empty() || text.back() == '\\') full += "\\";
  return Status::Ok();
}

}  // namespace volok::platform::posix
