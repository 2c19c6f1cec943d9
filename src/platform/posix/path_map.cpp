#include "platform/posix/path_map.h"

#include <cstring>
#include <vector>

namespace volok::platform::posix {

namespace {

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string Slashes(std::string text) {
  for (char& c : text)
    if (c == '\\') c = '/';
  return text;
}

// Joins resolved segments back into a POSIX path.
std::string Joined(const std::vector<std::string>& segments, bool absolute, bool trailing) {
  std::string path = absolute ? "/" : "";
  for (std::size_t i = 0; i < segments.size(); ++i) path += (i ? "/" : "") + segments[i];
  if (path.empty()) return ".";
  if (trailing && path.back() != '/') path += '/';
  return path;
}

}  // namespace

std::vector<std::string> ResolveDots(const std::string& path, char delimiter, bool relative) {
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(delimiter, start);
    if (end == std::string::npos) end = path.size();
    std::string segment = path.substr(start, end - start);
    if (segment == ".." && (segments.empty() || segments.back() == "..")) {
      if (relative) segments.push_back(segment);  // the folder above the current one
    } else if (segment == "..") {
      segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = end + 1;
  }
  return segments;
}

// Windows resolves "." and ".." in every path it is given before it looks at
// the disk ("missing\..\file" opens "file"); the kernel here would walk
// through "missing" and fail, so the mapping resolves them first.
bool ToNativePath(const std::string& windows_path, std::string& native_path) {
  const std::string& p = windows_path;
  if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') return false;  // UNC
  std::string rest = p;
  bool absolute = false;
  if (p.size() >= 2 && IsDriveLetter(p[0]) && p[1] == ':') {
    if (p[0] != 'Z' && p[0] != 'z') return false;
    // "Z:" alone and "Z:name" (drive-relative) both start at the root: the
    // root is the only folder drive Z: ever has as its current one here.
    rest = p.substr(2);
    absolute = true;
  }
  rest = Slashes(rest);
  absolute = absolute || (!rest.empty() && rest[0] == '/');
  if (rest.empty() && !absolute) {
    native_path.clear();
    return true;
  }
  bool trailing = !rest.empty() && rest.back() == '/';
  native_path = Joined(ResolveDots(rest, '/', !absolute), absolute, trailing);
  return true;
}

std::string FromNativePath(const std::string& native_path) {
  std::string result;
  if (!native_path.empty() && native_path[0] == '/') result = "Z:";
  for (char c : native_path) result += c == '/' ? '\\' : c;
  return result;
}

std::string UnmappedPathMessage(const std::string& windows_path) {
  return "Путь недоступен на этой системе: " + windows_path;
}

std::string ErrnoMessage(int error, const std::string& path) {
  char buffer[256];
  // GNU strerror_r may return a static text instead of filling the buffer.
  const char* text = strerror_r(error, buffer, sizeof buffer);
  return std::string(text) + ": " + path;
}

}  // namespace volok::platform::posix
