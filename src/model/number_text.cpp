#include "model/number_text.h"

namespace volok {

namespace {

int DigitValue(char c, unsigned base) {
  int digit = -1;
  if (c >= '0' && c <= '9') digit = c - '0';
  else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
  return digit >= 0 && static_cast<unsigned>(digit) < base ? digit : -1;
}

// The digits of `text` as a number in `base`, not above `limit`.
bool ParseDigits(std::string_view text, unsigned base, std::uint64_t limit, std::uint64_t& value) {
  if (text.empty()) return false;
  std::uint64_t result = 0;
  for (char c : text) {
    int digit = DigitValue(c, base);
    if (digit < 0) return false;
    result = result * base + static_cast<unsigned>(digit);
    if (result > limit) return false;
  }
  value = result;
  return true;
}

}  // namespace

bool TryStrToInt32(std::string_view text, std::int32_t& value) {
  bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  std::uint64_t magnitude = 0;
  if (!ParseDigits(text, 10, negative ? 2147483648u : 2147483647u, magnitude)) return false;
  value = static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(magnitude)
                                             : static_cast<std::int64_t>(magnitude));
  return true;
}

bool TryStrToUInt32(std::string_view text, std::uint32_t& value) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  std::uint64_t result = 0;
  if (!ParseDigits(text, 10, 0xFFFFFFFFu, result)) return false;
  value = static_cast<std::uint32_t>(result);
  return true;
}

bool TryHexToUInt32(std::string_view text, std::uint32_t& value) {
  std::uint64_t result = 0;
  if (!ParseDigits(text, 16, 0xFFFFFFFFu, result)) return false;
  value = static_cast<std::uint32_t>(result);
  return true;
}

}  // namespace volok
