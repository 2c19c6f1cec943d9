// "{Name}" placeholders: values that re-form placeholders, or hold their own,
// must still end, and text without a brace stays as it is.
#include "fuzz_support.h"
#include "model/variables.h"

using volok::fuzz::Expect;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text = volok::fuzz::Text(data, size);
  volok::TVariables vars;
  vars.Add("Name", text.substr(0, size / 2));
  vars.Add("A", "{Name}{A}");
  vars.Add(text.substr(size / 2, 8), "{");
  std::string result = vars.ProcessF(text);
  if (text.find('{') == std::string::npos) Expect(result == text, "no placeholder, no change");
  return 0;
}
