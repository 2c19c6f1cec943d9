// The quoted lists of descriptions: option lists (comma and blanks) and the
// choices of a drop-down (semicolons). Whatever a list reads as, writing its
// items quoted must read back as the same items.
#include "fuzz_support.h"
#include "model/string_list.h"
#include "wizard/combo_values.h"

namespace {

using volok::fuzz::Expect;

std::string Quoted(const std::string& item) {
  std::string quoted = "\"";
  for (char c : item) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string Joined(const std::vector<std::string>& items, const char* delimiter) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) text += (i ? delimiter : "") + Quoted(items[i]);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text = volok::fuzz::Text(data, size);

  volok::TStringList list(false);
  list.SetDelimitedText(text);
  volok::TStringList again;
  again.SetDelimitedText(Joined(list.Items(), ","));
  Expect(again.Items() == list.Items(), "option list quoting round trip");
  for (const std::string& item : list.Items()) Expect(list.IndexOf(item) >= 0, "every item is found");

  // Drop-down choices never hold a NUL: they come from XML text.
  std::string values = text.substr(0, text.find('\0'));
  std::vector<std::string> choices = volok::SplitComboValues(values);
  Expect(volok::SplitComboValues(Joined(choices, ";")) == choices || choices.empty(),
         "drop-down quoting round trip");
  return 0;
}
