// The engine's entry point: the process-wide paths first, then the run mode
// chosen by the command line. The exit code is 0 unless a silent run failed.
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/entry.h"
#include "common/app_paths.h"
#include "platform/runtime.h"

int main(int argc, char** argv) {
  volok::platform::HardenDllSearch();
  volok::InitAppPaths();
  std::vector<std::string> parameters;
  std::string raw;
  if (volok::platform::RawCommandLine(raw))
    parameters = volok::SplitCommandLine(raw);
  else
    parameters.assign(argv, argv + argc);
  return volok::RunProgramMain(parameters);
}
