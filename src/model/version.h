// The version of a described program: four signed numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace volok {

struct TVersion {
  std::int32_t Major = 0;
  std::int32_t Minor = 0;
  std::int32_t Release = 0;
  std::int32_t Build = 0;
};

// Parses up to four dot-separated signed decimal numbers into `version`
// (first cleared to 0.0.0.0) and answers how many it read, 0 to 4. Reading
// stops at the first part that is not a number and after the fourth part:
// "2.5" reads 2 parts, "7.x.1" reads 1 (7.0.0.0), "1.2.3.4.5" reads 4,
// "" and "beta" read none.
int StrToVersion(std::string_view text, TVersion& version);

// "Major.Minor.Release.Build" in signed decimal, e.g. "-1.0.0.0".
std::string VersionToStr(const TVersion& version);

// -1, 0 or 1 as `a` is older than, equal to or newer than `b`, part by part
// from Major to Build.
int CompareVersions(const TVersion& a, const TVersion& b);

}  // namespace volok
