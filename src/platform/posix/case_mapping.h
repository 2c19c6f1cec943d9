// Unicode case mapping of UTF-8 text under an explicit locale, for the POSIX
// code pages; a header of its own so that tests can hand it any locale.
#pragma once

#include <locale.h>

#include <string>
#include <string_view>

namespace volok::platform::posix {

// C.UTF-8, which carries the full Unicode case tables, whatever the process's
// own locale; (locale_t)0 when the system has no such locale.
locale_t CaseLocale();

// `text` with every character mapped to lower (or upper) case under `locale`;
// bytes that are not UTF-8 pass unchanged. Without a locale only the ASCII
// letters are mapped and every other byte passes unchanged.
std::string MapCase(std::string_view text, bool upper, locale_t locale);

}  // namespace volok::platform::posix
