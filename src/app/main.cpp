// The engine's entry point: the process-wide paths first, then the run mode
// chosen by the command line. The exit codes are those of Windows
// Installer that deployment tools know (README).
#include "app/command_line.h"
#include "app/entry.h"
#include "common/app_paths.h"
#include "platform/runtime.h"

int main(int argc, char** argv) {
  volok::platform::HardenDllSearch();
  volok::InitAppPaths();
  return volok::RunProgramMain(volok::ProcessParameters(argc, argv), volok::ProcessParameterRests());
}
