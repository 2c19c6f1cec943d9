// Whole-text number parsing for description values. Each answers false
// (leaving `value` untouched) unless the entire text is the number: no
// blanks, no other prefixes, nothing after it.
#pragma once

#include <cstdint>
#include <string_view>

namespace volok {

// Optional sign, decimal digits, within -2147483648..2147483647.
[[nodiscard]] bool TryStrToInt32(std::string_view text, std::int32_t& value);
// Optional "+", decimal digits, within 0..4294967295.
[[nodiscard]] bool TryStrToUInt32(std::string_view text, std::uint32_t& value);
// Hexadecimal digits of either case without prefix, at most eight of them
// significant (leading zeros do not count).
[[nodiscard]] bool TryHexToUInt32(std::string_view text, std::uint32_t& value);

}  // namespace volok
