// The two command-line splitters: the program's own (run modes, install
// folder) and the Windows rules the POSIX layer starts programs by. What a
// line splits into, quoted again by the matching rules, splits the same way.
#include "app/command_line.h"
#include "fuzz_support.h"
#include "platform/command_line.h"

namespace {

using volok::fuzz::Expect;

void CheckWindowsRules(const std::string& line) {
  std::vector<std::string> tokens = volok::platform::SplitCommandLine(line);
  if (tokens.empty() || tokens[0].find('"') != std::string::npos) return;
  std::string again = "\"" + tokens[0] + "\"";
  for (size_t i = 1; i < tokens.size(); ++i) again += " " + volok::platform::QuoteArgument(tokens[i]);
  Expect(volok::platform::SplitCommandLine(again) == tokens, "Windows quoting round trip");
}

void CheckOwnRules(const std::string& line) {
  std::vector<std::string> parameters = volok::SplitCommandLine(line);
  std::string again;
  for (const std::string& parameter : parameters) {
    Expect(parameter.find('"') == std::string::npos, "quotes are not part of a parameter");
    again += "\"" + parameter + "\" ";
  }
  Expect(volok::SplitCommandLine(again) == parameters, "own quoting round trip");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string line = volok::fuzz::Text(data, size);
  CheckWindowsRules(line);
  CheckOwnRules(line);
  return 0;
}
