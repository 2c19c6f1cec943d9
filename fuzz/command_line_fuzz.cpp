// The two command-line splitters: the program's own (run modes, install
// folder) and the Windows rules the POSIX layer starts programs by. What a
// line splits into, quoted again by the matching rules, splits the same way.
// The switches read from it: an accepted line's folder and log are text of
// the line, and a refused one names a reason.
#include "app/command_line.h"
#include "app/run_switches.h"
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

// Quotes never reach a parameter, so they are left out of the line the
// folder and log must be found in.
std::string Unquoted(const std::string& line) {
  std::string text;
  for (char c : line)
    if (c != '"') text += c;
  return text;
}

void CheckSwitches(const std::string& line) {
  std::string program_line = "setup.exe " + line;
  std::vector<std::string> parameters = volok::SplitCommandLine(program_line);
  std::vector<std::string> rests = volok::CommandLineRests(program_line);
  Expect(rests.size() == parameters.size(), "one rest per parameter");
  volok::TRunSwitches switches = volok::ParseRunSwitches(parameters, rests);
  if (!switches.Error.empty()) return;
  std::string text = Unquoted(program_line);
  Expect(text.find(switches.InstallFolder) != std::string::npos, "the folder is text of the line");
  Expect(text.find(switches.LogFile) != std::string::npos, "the log is text of the line");
  Expect(!(switches.Create && switches.Silent), "create needs the window");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string line = volok::fuzz::Text(data, size);
  CheckWindowsRules(line);
  CheckOwnRules(line);
  CheckSwitches(line);
  return 0;
}
