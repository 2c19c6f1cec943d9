// One logical batch line as POSIX shell commands, for the translation in
// batch_script.h (which describes the syntax). The script around it keeps
// "waited" and "pc": "nap <ms>" waits within the script's budget, and a
// "goto" sets "pc" to its label's block and continues the dispatch loop.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/posix/batch_lexer.h"

namespace volok::platform::posix {

// The longest a script may wait in all; "nap" ends the script past it.
constexpr int kMaxWaitMs = 60000;

// False with `error` for a command or form outside the understood part.
[[nodiscard]] bool TranslateStatement(const std::vector<Token>& tokens, const std::map<std::string, int>& labels,
                                      std::string& sh, std::string& error);

}  // namespace volok::platform::posix
