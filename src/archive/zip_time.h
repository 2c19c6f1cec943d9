// DOS date and time as ZIP stores them: local time, two-second steps,
// years 1980 to 2107. Windows ZIP tools convert the file's UTC time to local
// time first; so do we, so peers show the same clock time.
#pragma once

#include <cstdint>

namespace volok::archive {

// `file_time` counts 100 ns since 1601-01-01 UTC (as FILETIME). Times
// before 1980 become 1980-01-01 00:00, times after 2107 the last DOS day.
std::uint32_t FileTimeToDos(std::uint64_t file_time);
// The UTC file time of a DOS date and time read as local time. Fields out of
// range (month 0, day 0...) are taken as the nearest valid value.
std::uint64_t DosToFileTime(std::uint32_t dos_date_time);

}  // namespace volok::archive
