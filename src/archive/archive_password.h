// The password of every payload archive: the builder encrypts with it and the
// installer decrypts with it, so both sides of one build must share it.
// Changing it makes packages of earlier builds unreadable.
#pragma once

#include <string_view>

namespace volok {

// 21 printable ASCII characters; one byte per character is the key of the
// traditional ZIP encryption. Chosen without shell metacharacters so the
// peers' command lines (zip -P, 7z -p) take it unquoted.
inline constexpr std::string_view ArchivePassword = "Vk7-qLm2.xR9_tPz4+wNe";

static_assert(ArchivePassword.size() == 21);

}  // namespace volok
