#include "wizard/combo_values.h"

namespace volok {

namespace {

// Reads a quoted choice starting at the quote `pos`; leaves `pos` after the
// closing quote (or at the end when it is missing).
std::string QuotedChoice(const std::string& values, size_t& pos) {
  std::string choice;
  for (++pos; pos < values.size(); ++pos) {
    if (values[pos] != '"') {
      choice += values[pos];
    } else if (pos + 1 < values.size() && values[pos + 1] == '"') {
      choice += '"';
      ++pos;
    } else {
      ++pos;
      break;
    }
  }
  return choice;
}

}  // namespace

std::vector<std::string> SplitComboValues(const std::string& values) {
  std::vector<std::string> choices;
  if (values.empty()) return choices;
  size_t pos = 0;
  for (;;) {
    std::string choice;
    if (pos < values.size() && values[pos] == '"') choice = QuotedChoice(values, pos);
    // Text after a closing quote up to the next ";" still belongs to it.
    while (pos < values.size() && values[pos] != ';') choice += values[pos++];
    choices.push_back(std::move(choice));
    if (pos >= values.size()) return choices;
    ++pos;  // the ";": another choice follows, empty when it is the end
  }
}

}  // namespace volok
