#include "common/log_writer.h"

#include <cstdio>
#include <memory>

#include "common/app_paths.h"
#include "common/text_file.h"
#include "platform/file_system.h"

namespace volok {

std::tm LocalNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  return local;
}

namespace {

std::string Format(const std::tm& when, char between) {
  char buffer[96];  // room for any int the fields could hold
  std::snprintf(buffer, sizeof buffer, "%04d.%02d.%02d%c%02d:%02d:%02d", when.tm_year + 1900, when.tm_mon + 1,
                when.tm_mday, between, when.tm_hour, when.tm_min, when.tm_sec);
  return buffer;
}

// The byte-order mark a new log file starts with.
std::string ByteOrderMark(unsigned code_page) {
  switch (code_page) {
    case 65001: return "\xEF\xBB\xBF";
    case 1200: return "\xFF\xFE";
    case 1201: return "\xFE\xFF";
    default: return {};
  }
}

// Appends `line` and a line end to the file `path`, which starts with the
// byte-order mark when new. Failures are absorbed.
void AppendLine(const std::string& path, const std::string& line_text, unsigned code_page) {
  try {
    std::string line = EncodeText(line_text + "\r\n", code_page);
    std::unique_ptr<platform::File> file;
    auto& fs = platform::FileSystem::Default();
    // A link put in the log's place is never followed: the engine runs
    // elevated and would append to whatever it names.
    if (!fs.OpenFile(path, platform::FileAccess::AppendNoLink, platform::FileShare::Read, file).ok()) return;
    std::uint64_t size = 0;
    if (!file->Size(size).ok()) return;
    if (size == 0) line = ByteOrderMark(code_page) + line;
    (void)file->Write(line.data(), line.size());
  } catch (...) {
    // An unknown code page: nothing is written, the run goes on.
  }
}

}  // namespace

std::string LogFileLine(const std::string& text, const std::tm& when) { return Format(when, ';') + ";" + text; }

std::string LogViewLine(const std::string& text, const std::tm& when) { return Format(when, ' ') + " " + text; }

void WriteLogLine(const std::string& text, TLogView* view, std::uint32_t color, unsigned code_page,
                  bool write_to_file) {
  std::tm now = LocalNow();
  if (view) view->AppendLine(LogViewLine(text, now), color);
  if (write_to_file) AppendLine(LogFileName(), LogFileLine(text, now), code_page);
}

void WriteLogLineTo(const std::string& path, const std::string& text, unsigned code_page) {
  AppendLine(path, LogFileLine(text, LocalNow()), code_page);
}

}  // namespace volok
