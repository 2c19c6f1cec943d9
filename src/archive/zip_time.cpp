#include "archive/zip_time.h"

#include <algorithm>
#include <ctime>

namespace volok::archive {

namespace {

constexpr std::int64_t TicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t EpochDifference = 11'644'473'600;
constexpr std::uint32_t FirstDosDay = (0u << 9) | (1u << 5) | 1u;  // 1980-01-01

bool LocalTime(std::time_t when, std::tm& local) {
#ifdef _WIN32
  return localtime_s(&local, &when) == 0;
#else
  return localtime_r(&when, &local) != nullptr;
#endif
}

}  // namespace

std::uint32_t FileTimeToDos(std::uint64_t file_time) {
  std::int64_t seconds = static_cast<std::int64_t>(file_time / TicksPerSecond) - EpochDifference;
  std::tm local{};
  if (!LocalTime(static_cast<std::time_t>(seconds), local) || local.tm_year < 80) return FirstDosDay << 16;
  if (local.tm_year > 80 + 127) return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
  std::uint32_t date = (static_cast<std::uint32_t>(local.tm_year - 80) << 9) |
                       (static_cast<std::uint32_t>(local.tm_mon + 1) << 5) | static_cast<std::uint32_t>(local.tm_mday);
  std::uint32_t time = (static_cast<std::uint32_t>(local.tm_hour) << 11) |
                       (static_cast<std::uint32_t>(local.tm_min) << 5) |
                       static_cast<std::uint32_t>(std::min(local.tm_sec, 59) / 2);
  return (date << 16) | time;
}

std::uint64_t DosToFileTime(std::uint32_t dos_date_time) {
  std::uint32_t date = dos_date_time >> 16;
  std::uint32_t time = dos_date_time & 0xFFFF;
  std::tm local{};
  local.tm_year = static_cast<int>((date >> 9) & 0x7F) + 80;
  local.tm_mon = std::clamp(static_cast<int>((date >> 5) & 0x0F), 1, 12) - 1;
  local.tm_mday = std::max(static_cast<int>(date & 0x1F), 1);
  local.tm_hour = std::min(static_cast<int>(time >> 11), 23);
  local.tm_min = std::min(static_cast<int>((time >> 5) & 0x3F), 59);
  local.tm_sec = std::min(static_cast<int>(time & 0x1F) * 2, 59);
  local.tm_isdst = -1;  // let the C library decide whether DST applied then
  std::time_t seconds = std::mktime(&local);
  if (seconds == static_cast<std::time_t>(-1)) seconds = 315'532'800;  // 1980-01-01 UTC
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(seconds) + EpochDifference) *
         static_cast<std::uint64_t>(TicksPerSecond);
}

}  // namespace volok::archive
