#include "app/command_line.h"

#include "platform/runtime.h"

namespace volok {

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

// Walks the line by the rules in the header; `start` gets each parameter's
// first position.
std::vector<std::string> Split(const std::string& command_line, std::vector<std::size_t>* starts) {
  std::vector<std::string> parameters;
  size_t pos = 0;
  const size_t size = command_line.size();
  for (;;) {
    while (pos < size && IsBlank(command_line[pos])) ++pos;
    if (pos >= size) break;
    if (starts) starts->push_back(pos);
    std::string parameter;
    bool quoted = false;
    for (; pos < size && (quoted || !IsBlank(command_line[pos])); ++pos) {
      if (command_line[pos] == '"')
        quoted = !quoted;
      else
        parameter += command_line[pos];
    }
    // A pair of quotes alone is an empty parameter: it still counts.
    parameters.push_back(parameter);
  }
  return parameters;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& command_line) { return Split(command_line, nullptr); }

std::vector<std::string> CommandLineRests(const std::string& command_line) {
  std::vector<std::size_t> starts;
  (void)Split(command_line, &starts);
  std::vector<std::string> rests;
  for (std::size_t start : starts) rests.push_back(command_line.substr(start));
  return rests;
}

std::vector<std::string> ProcessParameters(int argc, char** argv) {
  std::string raw;
  if (platform::RawCommandLine(raw)) return SplitCommandLine(raw);
  return {argv, argv + argc};
}

std::vector<std::string> ProcessParameterRests() {
  std::string raw;
  if (platform::RawCommandLine(raw)) return CommandLineRests(raw);
  return {};
}

}  // namespace volok
