#include "platform/posix/batch_script.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <set>
#include <vector>

#include "platform/code_pages.h"
#include "platform/posix/batch_lexer.h"
#include "platform/posix/batch_translator.h"
#include "platform/posix/path_map.h"

extern char** environ;

namespace volok::platform::posix {

namespace {

constexpr int kMaxJumps = 10000;

// The batch's physical lines, each decoded from the code page in force when
// cmd reads it: "chcp N" switches it for the lines after.
std::vector<std::string> DecodedLines(const std::string& text, unsigned code_page) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string bytes = text.substr(start, end - start);
    if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
    std::string line;
    if (!CodePages::BuiltIn().Decode(code_page, bytes, line).ok()) line = bytes;
    lines.push_back(line);
    std::string command = Lower(Trimmed(line));
    if (command.rfind("chcp", 0) == 0 && command.size() > 4 && std::isblank(static_cast<unsigned char>(command[4]))) {
      unsigned chosen = static_cast<unsigned>(std::strtoul(command.c_str() + 5, nullptr, 10));
      if (chosen != 0) code_page = chosen;
    }
    start = end + 1;
  }
  return lines;
}

// The names the batch gives values with "set" (lower case).
std::set<std::string> SetNames(const std::vector<std::string>& lines) {
  std::set<std::string> names;
  for (const std::string& line : lines) {
    std::string lower = Lower(line);
    for (std::size_t at = lower.find("set "); at != std::string::npos; at = lower.find("set ", at + 1)) {
      if (at > 0 && std::isalnum(static_cast<unsigned char>(lower[at - 1]))) continue;
      std::size_t begin = lower.find_first_not_of(" \t\"", at + 4);
      if (begin != std::string::npos && lower.compare(begin, 2, "/a") == 0) begin = lower.find_first_not_of(" \t\"", begin + 2);
      std::size_t end = begin == std::string::npos ? begin : lower.find_first_of("+-=", begin);
      if (end != std::string::npos) {
        std::string name = lower.substr(begin, end - begin);
        while (!name.empty() && std::isblank(static_cast<unsigned char>(name.back()))) name.pop_back();
        if (IsName(name)) names.insert(name);
      }
    }
  }
  return names;
}

bool EnvironmentValue(const std::string& name, std::string& value) {
  for (char** entry = environ; *entry; ++entry) {
    std::string pair = *entry;
    std::size_t equals = pair.find('=');
    if (equals != std::string::npos && Lower(pair.substr(0, equals)) == Lower(name)) {
      value = pair.substr(equals + 1);
      return true;
    }
  }
  return false;
}

// "%~dp0" and its kin: the parts of the batch's own path in the order cmd
// joins them.
std::string BatchPathParts(const std::string& modifiers, const std::string& path) {
  if (modifiers.empty()) return "\"" + path + "\"";
  if (modifiers.find('f') != std::string::npos) return path;
  std::size_t slash = path.find_last_of('\\'), dot = path.find_last_of('.');
  std::string name = path.substr(slash + 1);
  std::size_t name_dot = dot != std::string::npos && dot > slash ? dot - slash - 1 : name.size();
  std::string out;
  if (modifiers.find('d') != std::string::npos) out += path.substr(0, 2);
  if (modifiers.find('p') != std::string::npos) out += path.substr(2, slash - 1);
  if (modifiers.find('n') != std::string::npos) out += name.substr(0, name_dot);
  if (modifiers.find('x') != std::string::npos) out += name.substr(name_dot);
  return out;
}

// cmd's percent expansion of a batch line; the batch's own variables are
// left as markers for the script to read when it runs.
bool ExpandPercents(const std::string& line, const std::string& batch_path, const std::set<std::string>& set_names,
                    std::string& out, std::string& error) {
  out.clear();
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '%') {
      out += line[i];
      continue;
    }
    std::size_t next = i + 1;
    if (next < line.size() && line[next] == '%') {
      out += '%';
      ++i;
    } else if (next < line.size() && (std::isdigit(static_cast<unsigned char>(line[next])) || line[next] == '*')) {
      if (line[next] == '0') out += BatchPathParts("", batch_path);
      i = next;
    } else if (next < line.size() && line[next] == '~') {
      std::size_t digit = line.find_first_not_of("fdpnx", next + 1);
      if (digit == std::string::npos || line[digit] != '0') {
        error = "an argument form other than %~[fdpnx]0";
        return false;
      }
      out += BatchPathParts(line.substr(next + 1, digit - next - 1), batch_path);
      i = digit;
    } else {
      std::size_t close = line.find('%', next);
      if (close == std::string::npos) continue;  // a lone percent sign is dropped
      std::string name = line.substr(next, close - next), value;
      if (set_names.count(Lower(name))) {
        out += kVariableStart + Lower(name) + kVariableEnd;
      } else if (EnvironmentValue(name, value)) {
        out += value;
      } else {
        error = "the variable %" + name + "% is not set";
        return false;
      }
      i = close;
    }
  }
  return true;
}

// One logical line: its tokens, and whether it is a label.
struct Statement {
  std::vector<Token> Tokens;
  std::string Label;  // lower case, without the colon
};

// The batch's logical lines: percent signs expanded, "@" dropped, lines with
// open parentheses joined with the lines that close them.
bool Statements(const std::vector<std::string>& lines, const std::string& batch_path, std::vector<Statement>& statements,
                std::string& error) {
  std::set<std::string> set_names = SetNames(lines);
  std::string pending;
  for (const std::string& raw : lines) {
    if (raw.find_first_of(std::string{kVariableStart, kVariableEnd}) != std::string::npos) {
      error = "a control character";
      return false;
    }
    std::string line;
    if (!ExpandPercents(raw, batch_path, set_names, line, error)) return false;
    line = Trimmed(line);
    if (pending.empty() && (line.empty() || line.rfind("::", 0) == 0)) continue;
    if (pending.empty() && line[0] == ':') {
      std::size_t end = line.find_first_of(" \t", 1);
      statements.push_back({{}, Lower(line.substr(1, end == std::string::npos ? end : end - 1))});
      continue;
    }
    std::string text = pending.empty() ? line : pending + " & " + line;
    Statement statement;
    int depth = 0;
    if (!LexBatchLine(text, statement.Tokens, depth, error)) return false;
    if (depth > 0) {
      pending = text;
      continue;
    }
    pending.clear();
    statements.push_back(std::move(statement));
  }
  if (!pending.empty()) error = "a \"(\" without its \")\"";
  return pending.empty();
}

}  // namespace

bool BatchToShell(const std::string& text, const std::string& batch_path, unsigned code_page, std::string& script,
                  std::string& error) {
  std::vector<Statement> statements;
  if (!Statements(DecodedLines(text, code_page), batch_path, statements, error)) return false;
  // Each label starts a block of the dispatch loop below; "goto" picks the
  // block to run next.
  std::map<std::string, int> labels;
  int blocks = 1;
  for (const Statement& statement : statements)
    if (!statement.Label.empty()) labels.emplace(statement.Label, blocks++);
  script = "exec </dev/null >/dev/null 2>&1\n"
           "waited=0\n"
           "nap() { waited=$((waited + $1)); [ \"$waited\" -le " + std::to_string(kMaxWaitMs) +
           " ] || exit 0; sleep \"$(($1 / 1000)).$(($1 % 1000 / 100))\"; }\n"
           "pc=0\njumps=0\n"
           "while [ \"$jumps\" -lt " + std::to_string(kMaxJumps) + " ]; do\n"
           "jumps=$((jumps + 1))\n"
           "case $pc in\n0)\n";
  int block = 0;
  for (const Statement& statement : statements) {
    if (!statement.Label.empty()) {
      // A label reached from above falls through into its block.
      ++block;
      script += "pc=" + std::to_string(block) + " ;;\n" + std::to_string(block) + ")\n";
      continue;
    }
    std::string sh;
    if (!TranslateStatement(statement.Tokens, labels, sh, error)) return false;
    script += sh + "\n";
  }
  script += "exit 0 ;;\nesac\ndone\n";
  return true;
}

}  // namespace volok::platform::posix
