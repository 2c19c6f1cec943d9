// "{Name}" placeholders: values that re-form placeholders, or hold their own,
// must still end, text without a brace stays as it is, and the result is the
// one the straightforward (quadratic) replacement gives.
#include "fuzz_support.h"
#include "model/variables.h"
#include "placeholder_oracle.h"

using volok::fuzz::Expect;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text = volok::fuzz::Text(data, size);
  volok::TVariables vars;
  vars.Add("Name", text.substr(0, size / 2));
  vars.Add("A", "{Name}{A}");
  vars.Add(text.substr(size / 2, 8), "{");
  std::string result = vars.ProcessF(text);
  if (text.find('{') == std::string::npos) Expect(result == text, "no placeholder, no change");
  // The oracle is quadratic: long inputs would only spend the time limit.
  if (size <= 8192) Expect(result == volok::testing::OracleProcess(vars, text), "same result as the oracle");
  return 0;
}
