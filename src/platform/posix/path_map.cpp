#include "platform/posix/path_map.h"

#include <cstring>

namespace volok::platform::posix {

namespace {

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string Slashes(std::string text) {
  for (char& c : text)
    if (c == '\\') c = '/';
  return text;
}

}  // namespace

bool ToNativePath(const std::string& windows_path, std::string& native_path) {
  const std::string& p = windows_path;
  if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') return false;  // UNC
  if (p.size() >= 2 && IsDriveLetter(p[0]) && p[1] == ':') {
    if (p[0] != 'Z' && p[0] != 'z') return false;
    std::string rest = Slashes(p.substr(2));
    // "Z:" alone and "Z:name" (drive-relative) both start at the root: the
    // root is the only folder drive Z: ever has as its current one here.
    native_path = rest.empty() || rest[0] != '/' ? "/" + rest : rest;
    return true;
  }
  native_path = Slashes(p);
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
