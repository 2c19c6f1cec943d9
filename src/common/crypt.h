// The container around installation descriptions: the text is encrypted with
// Blowfish under a key built into the engine, the cipher bytes are written as
// Base64, and each Base64 character as two uppercase hexadecimal digits. It
// hides the description; it carries no checksum and no authentication.
#pragma once

#include <string>
#include <string_view>

namespace volok {

// The container text of `text`; "EMPTY" for an empty text. Throws Error
// "Ошибка при шифровании" when the cipher fails.
std::string EncryptText(std::string_view text);
// The text inside a container. Throws Error "Ошибка расшифровки" for an
// empty or malformed container. A container made with another key gives
// unreadable text, not an error; invalid UTF-8 becomes U+FFFD.
std::string DecryptText(std::string_view container);

// The byte-level halves of the two above.
std::string EncryptToHex(std::string_view plain, std::string_view key);
std::string DecryptFromHex(std::string_view container, std::string_view key);
// The value of two hexadecimal digits ("4F", "4f"), or of "$" and one digit;
// 0 for anything else.
unsigned HexPairValue(std::string_view pair);

}  // namespace volok
