// Log lines, for the wizard's log view and for the log file.
// File line: "yyyy.mm.dd;hh:nn:ss;text" CR LF, in the caller's code page; a
// new file starts with that code page's byte-order mark.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace volok {

// A view that shows log lines in colour (the wizard's log).
class TLogView {
 public:
  virtual ~TLogView() = default;
  virtual void AppendLine(const std::string& line, std::uint32_t color) = 0;
};

// The current local date and time.
std::tm LocalNow();
// The file line for `text` at `when` (local time), without the line end.
std::string LogFileLine(const std::string& text, const std::tm& when);
// The view line: "yyyy.mm.dd hh:nn:ss text".
std::string LogViewLine(const std::string& text, const std::tm& when);

// Appends `text` to `view` (when given) and, with `write_to_file`, one line
// to LogFileName(). File failures are absorbed: a log must never stop a run.
void WriteLogLine(const std::string& text, TLogView* view, std::uint32_t color, unsigned code_page,
                  bool write_to_file);
// One line to the log file `path` (the one /log names), failures absorbed.
void WriteLogLineTo(const std::string& path, const std::string& text, unsigned code_page);

}  // namespace volok
