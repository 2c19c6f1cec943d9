#include "common/file_names.h"

#include <string>

#include "common/text.h"

namespace volok {

namespace {

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// "CON", "nul.txt", "Com1 .log": names Windows opens as a device.
bool IsDeviceName(std::string_view segment) {
  std::string stem = LowerCase(segment.substr(0, segment.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul" || stem == "conin$" || stem == "conout$")
    return true;
  return stem.size() == 4 && (stem.rfind("com", 0) == 0 || stem.rfind("lpt", 0) == 0) && stem[3] >= '1' &&
         stem[3] <= '9';
}

}  // namespace

bool IsSafeNameSegment(std::string_view segment) {
  if (segment.find_first_not_of(". ") == std::string_view::npos) return false;
  if (segment.find_first_of("<>:\"|?*/\\") != std::string_view::npos) return false;
  for (std::size_t pos = 0; pos < segment.size();) {
    if (IsControl(NextCodePoint(segment, pos))) return false;
  }
  return !IsDeviceName(segment);
}

bool IsWindowsFileName(std::string_view name) {
  return IsSafeNameSegment(name) && name.back() != '.' && name.back() != ' ';
}

bool IsPlainRelativePath(std::string_view path) {
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '\\' && path[i] != '/') continue;
    if (!IsWindowsFileName(path.substr(start, i - start))) return false;
    start = i + 1;
  }
  return true;
}

std::string NotFileOrFolderMessage(const std::string& path) {
  return "Не обычный файл и не папка: " + path + ".";
}

}  // namespace volok
