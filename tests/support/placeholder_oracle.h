// The placeholder replacement written the straightforward way: after every
// replacement the token is searched for again, and a bit per character says
// which characters stood in the text before the variable's turn. Quadratic,
// and kept only to check the streaming replacement against it.
#pragma once

#include <string>
#include <vector>

#include "model/variables.h"

namespace volok::testing {

inline void OracleReplaceVar(const TVariable& variable, std::string& text) {
  const std::string token = "{" + variable.Name + "}";
  std::vector<bool> original(text.size(), true);
  std::size_t from = 0;
  for (;;) {
    std::size_t at = text.find(token, from);
    while (at != std::string::npos) {
      bool uses_original = false;
      for (std::size_t i = at; i < at + token.size() && !uses_original; ++i) uses_original = original[i];
      if (uses_original) break;
      at = text.find(token, at + 1);
    }
    if (at == std::string::npos) return;
    text.replace(at, token.size(), variable.Value);
    original.erase(original.begin() + static_cast<std::ptrdiff_t>(at),
                   original.begin() + static_cast<std::ptrdiff_t>(at + token.size()));
    original.insert(original.begin() + static_cast<std::ptrdiff_t>(at), variable.Value.size(), false);
    from = at >= token.size() ? at - token.size() + 1 : 0;
  }
}

inline std::string OracleProcess(const TVariables& vars, std::string text) {
  for (const TVariable& variable : vars.Variables()) OracleReplaceVar(variable, text);
  return text;
}

}  // namespace volok::testing
