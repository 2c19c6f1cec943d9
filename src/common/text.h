// UTF-8 text helpers. Every string above the platform layer is UTF-8; rules
// that count or scan characters count code points, not bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace volok {

// Removes characters with codes up to 32 from both ends (or one end).
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

// Decodes the code point starting at `pos` and advances `pos` past it. An
// invalid or truncated sequence yields U+FFFD and advances by one byte.
char32_t NextCodePoint(std::string_view text, std::size_t& pos);
void AppendCodePoint(std::string& out, char32_t code_point);
std::size_t CodePointCount(std::string_view text);
// `text` with every invalid UTF-8 sequence replaced by U+FFFD.
std::string SanitizeUtf8(std::string_view text);

// UTF-16 conversions; unpaired surrogates become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Locale-aware case mapping and comparison through the platform, so that
// Cyrillic letters fold too.
std::string LowerCase(std::string_view text);
std::string UpperCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);

}  // namespace volok
