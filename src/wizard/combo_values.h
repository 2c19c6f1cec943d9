// The choices of a drop-down option.
#pragma once

#include <string>
#include <vector>

namespace volok {

// Splits at ";" only (blanks belong to the choices). A choice that begins
// with a double quote runs to its closing quote, "" inside standing for one
// quote. Empty text gives no choice; a final ";" adds an empty last choice.
std::vector<std::string> SplitComboValues(const std::string& values);

}  // namespace volok
