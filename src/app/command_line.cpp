#include "app/command_line.h"

#include "platform/runtime.h"

namespace volok {

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& command_line) {
  std::vector<std::string> parameters;
  size_t pos = 0;
  const size_t size = command_line.size();
  for (;;) {
    while (pos < size && IsBlank(command_line[pos])) ++pos;
    if (pos >= size) break;
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

std::vector<std::string> ProcessParameters(int argc, char** argv) {
  std::string raw;
  if (platform::RawCommandLine(raw)) return SplitCommandLine(raw);
  return {argv, argv + argc};
}

}  // namespace volok
