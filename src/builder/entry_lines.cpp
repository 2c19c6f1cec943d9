#include "builder/entry_lines.h"

#include <cstring>

namespace volok {

namespace {

bool IsNameChar(char c) {
  return !(c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/' || c == '>' || c == '=');
}

class Scanner {
 public:
  explicit Scanner(const std::string& text) : FText(text) {}

  // Moves past `end`, counting lines; false when the text ends first.
  bool SkipPast(const char* end) {
    std::size_t found = FText.find(end, FPos);
    if (found == std::string::npos) return false;
    Advance(found + std::strlen(end));
    return true;
  }
  void Advance(std::size_t to) {
    for (; FPos < to && FPos < FText.size(); ++FPos)
      if (FText[FPos] == '\n') ++FLine;
  }
  bool At(const char* prefix) const { return FText.compare(FPos, std::strlen(prefix), prefix) == 0; }
  bool AtEnd() const { return FPos >= FText.size(); }
  char Current() const { return FText[FPos]; }
  int Line() const { return FLine; }
  std::string Name() {
    std::size_t start = FPos;
    while (!AtEnd() && IsNameChar(Current())) Advance(FPos + 1);
    return FText.substr(start, FPos - start);
  }
  // Past the rest of a start tag; answers whether it closed itself ("/>").
  bool EndOfTag(bool& ok) {
    char quote = 0;
    for (; !AtEnd(); Advance(FPos + 1)) {
      char c = Current();
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        bool empty = FPos > 0 && FText[FPos - 1] == '/';
        Advance(FPos + 1);
        return empty;
      }
    }
    ok = false;
    return false;
  }

 private:
  const std::string& FText;
  std::size_t FPos = 0;
  int FLine = 1;
};

}  // namespace

std::vector<int> EntryLines(const std::string& text, const std::string& list) {
  std::vector<int> lines;
  if (text.size() >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF')))
    return lines;
  Scanner scan(text);
  std::vector<std::string> open;
  bool ok = true;
  while (ok && scan.SkipPast("<")) {
    if (scan.At("!--")) {
      ok = scan.SkipPast("-->");
    } else if (scan.At("![CDATA[")) {
      ok = scan.SkipPast("]]>");
    } else if (scan.At("?")) {
      ok = scan.SkipPast("?>");
    } else if (scan.At("!")) {
      ok = scan.SkipPast(">");
    } else if (scan.At("/")) {
      if (open.empty()) return {};
      open.pop_back();
      ok = scan.SkipPast(">");
    } else {
      const int line = scan.Line();
      std::string name = scan.Name();
      if (name.empty()) return {};
      if (open.size() == 2 && open[1] == list && name == "File") lines.push_back(line);
      if (!scan.EndOfTag(ok)) open.push_back(name);
    }
  }
  return ok ? lines : std::vector<int>();
}

}  // namespace volok
