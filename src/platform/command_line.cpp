#include "platform/command_line.h"

namespace volok::platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string ProgramToken(const std::string& line, std::size_t& pos) {
  std::string program;
  if (pos < line.size() && line[pos] == '"') {
    std::size_t close = line.find('"', pos + 1);
    if (close == std::string::npos) close = line.size();
    program = line.substr(pos + 1, close - pos - 1);
    pos = close + 1;
    return program;
  }
  while (pos < line.size() && !IsBlank(line[pos])) program += line[pos++];
  return program;
}

// One argument starting at a non-blank character; `pos` ends after it.
std::string ArgumentToken(const std::string& line, std::size_t& pos) {
  std::string argument;
  bool quoted = false;
  while (pos < line.size() && (quoted || !IsBlank(line[pos]))) {
    std::size_t slashes = 0;
    while (pos < line.size() && line[pos] == '\\') ++slashes, ++pos;
    if (pos < line.size() && line[pos] == '"') {
      argument.append(slashes / 2, '\\');
      if (slashes % 2 == 1) {
        argument += '"';
      } else if (quoted && pos + 1 < line.size() && line[pos + 1] == '"') {
        // CommandLineToArgvW's older rule (the C runtime changed in 2008):
        // the pair gives a quote and also ends the quoted block.
        argument += '"';
        quoted = false;
        ++pos;
      } else {
        quoted = !quoted;
      }
      ++pos;
    } else {
      argument.append(slashes, '\\');
      if (slashes == 0 && pos < line.size()) argument += line[pos++];
    }
  }
  return argument;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& command_line) {
  std::vector<std::string> tokens;
  if (command_line.empty()) return tokens;
  std::size_t pos = 0;
  tokens.push_back(ProgramToken(command_line, pos));
  for (;;) {
    while (pos < command_line.size() && IsBlank(command_line[pos])) ++pos;
    if (pos >= command_line.size()) break;
    tokens.push_back(ArgumentToken(command_line, pos));
  }
  return tokens;
}

std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  return quoted.append(backslashes * 2, '\\') + "\"";
}

}  // namespace volok::platform
