#include "common/process_utils.h"

#include <memory>
#include <vector>

#include "common/text.h"
#include "platform/process.h"
#include "platform/runtime.h"

namespace volok {

namespace {

using platform::Process;
using platform::Processes;

// The processes whose executable is `lower_path`: those of the same file
// name are opened and asked for their full path; one that cannot be opened
// (another user's, a protected one) or read is skipped.
std::vector<std::unique_ptr<Process>> Matches(const std::string& lower_path) {
  std::vector<std::unique_ptr<Process>> matches;
  std::string lower_name = lower_path.substr(lower_path.find_last_of('\\') + 1);
  Processes& processes = Processes::Default();
  std::vector<platform::ProcessEntry> entries;
  if (!processes.List(entries).ok()) return matches;
  // The running engine never ends itself, whatever path it is asked for: the
  // run that asked must go on to write its log and registration.
  const std::uint32_t self = platform::CurrentProcessId();
  for (const platform::ProcessEntry& entry : entries) {
    if (entry.Id == self || LowerCase(entry.ExeName) != lower_name) continue;
    std::unique_ptr<Process> process;
    std::string path;
    if (processes.Open(entry.Id, process).ok() && process->ExecutablePath(path).ok() &&
        LowerCase(path) == lower_path)
      matches.push_back(std::move(process));
  }
  return matches;
}

// Waits for a program whose start answered `started`.
TProgramOutcome AwaitOutcome(const platform::Status& started, std::unique_ptr<Process>& process,
                             std::uint32_t timeout_ms) {
  TProgramOutcome outcome;
  if (!started.ok()) {
    outcome.Failure = started.message();
    return outcome;
  }
  outcome.Started = true;
  outcome.Ended = process->Wait(timeout_ms);
  if (outcome.Ended) (void)process->ExitCode(outcome.ExitCode);
  return outcome;
}

}  // namespace

bool RunProgram(const std::string& command_line, const std::string& working_folder) {
  return Processes::Default().Launch(command_line, working_folder).ok();
}

bool RunProgramAndWait(const std::string& command_line, const std::string& working_folder,
                       std::uint32_t timeout_ms) {
  return RunProgramAndWaitOutcome(command_line, working_folder, timeout_ms).Ended;
}

TProgramOutcome RunProgramAndWaitOutcome(const std::string& command_line, const std::string& working_folder,
                                         std::uint32_t timeout_ms) {
  std::unique_ptr<Process> process;
  return AwaitOutcome(Processes::Default().Start(command_line, working_folder, process), process, timeout_ms);
}

TProgramOutcome RunProgramWithOutput(const std::string& command_line, const std::string& working_folder,
                                     const std::string& output_file, std::uint32_t timeout_ms) {
  std::unique_ptr<Process> process;
  platform::Status started =
      Processes::Default().StartWithOutput(command_line, working_folder, output_file, process);
  return AwaitOutcome(started, process, timeout_ms);
}


std::string LaunchProgram(const std::string& command_line, const std::string& working_folder) {
  platform::Status launched = Processes::Default().Launch(command_line, working_folder);
  return launched.ok() ? std::string() : launched.message();
}

bool TerminateProcessesByPath(const std::string& path, std::uint32_t timeout_ms) {
  std::string lower_path = LowerCase(path);
  if (lower_path.find('\\') == std::string::npos) return true;  // a bare name is no process's full path
  std::vector<std::unique_ptr<Process>> matches = Matches(lower_path);
  if (matches.empty()) return true;
  // Every match is ended, however many: the wait takes them in groups.
  std::vector<Process*> waiting;
  for (const auto& process : matches) {
    (void)process->Terminate();
    waiting.push_back(process.get());
  }
  return Processes::Default().WaitAll(waiting, timeout_ms);
}

}  // namespace volok
