#include "model/version.h"

#include "model/number_text.h"

namespace volok {

int StrToVersion(std::string_view text, TVersion& version) {
  version = TVersion();
  std::int32_t* parts[] = {&version.Major, &version.Minor, &version.Release, &version.Build};
  std::string_view rest = text;
  int count = 0;
  for (std::int32_t* part : parts) {
    size_t dot = rest.find('.');
    std::string_view piece = rest.substr(0, dot);
    if (!TryStrToInt32(piece, *part)) break;
    ++count;
    if (dot == std::string_view::npos) break;
    rest.remove_prefix(dot + 1);
  }
  return count;
}

std::string VersionToStr(const TVersion& version) {
  return std::to_string(version.Major) + "." + std::to_string(version.Minor) + "." +
         std::to_string(version.Release) + "." + std::to_string(version.Build);
}

int CompareVersions(const TVersion& a, const TVersion& b) {
  const std::int32_t left[] = {a.Major, a.Minor, a.Release, a.Build};
  const std::int32_t right[] = {b.Major, b.Minor, b.Release, b.Build};
  for (int i = 0; i < 4; ++i)
    if (left[i] != right[i]) return left[i] < right[i] ? -1 : 1;
  return 0;
}

}  // namespace volok
