#include "app/build_mode.h"

#include "builder/package_builder.h"
#include "common/log_writer.h"
#include "common/text.h"
#include "platform/console.h"

namespace volok {

namespace {

// The console plays the log view's part.
class ConsoleLogView final : public TLogView {
 public:
  void AppendLine(const std::string& line, std::uint32_t) override { platform::WriteStdOutLine(line); }
};

}  // namespace

int RunBuild(const std::vector<std::string>& parameters) {
  platform::AttachParentConsole();
  ConsoleLogView console;
  TPackageBuilder builder;
  if (parameters.size() >= 3) {
    std::string engine = Trim(parameters[2]);
    if (!engine.empty()) builder.SetEngineFile(engine);
  }
  builder.OnLog = [&console](const std::string& text, int) { WriteLogLine(text, &console, 0, 65001, true); };
  return builder.MakeInstall("installer.xml", "output-installer") ? 0 : 1;
}

}  // namespace volok
