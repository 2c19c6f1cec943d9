// Base64 with the standard alphabet (A-Z a-z 0-9 + /), padded with "=",
// without line breaks.
#pragma once

#include <string>
#include <string_view>

namespace volok {

std::string Base64Encode(std::string_view bytes);
// False when the text holds a character that is neither Base64 nor one of
// the separators that are skipped (blanks, line breaks and the punctuation
// that hand-edited texts carry), or when its length cannot be Base64.
[[nodiscard]] bool Base64Decode(std::string_view text, std::string& bytes);

}  // namespace volok
