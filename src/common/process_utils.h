// Starting and ending other programs. Command lines are Windows command
// lines: the program is the first token, in double quotes when its path
// holds blanks. No routine raises; every failure shows only in the answer.
#pragma once

#include <cstdint>
#include <string>

namespace volok {

// No time limit for the waits below.
constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

// Starts the program with `working_folder` as its current folder (an empty
// folder fails the start) and returns at once: true when it was started.
[[nodiscard]] bool RunProgram(const std::string& command_line, const std::string& working_folder);

// Starts the program and waits for it: true when it started and ended within
// `timeout_ms`. Its exit code is not read.
[[nodiscard]] bool RunProgramAndWait(const std::string& command_line, const std::string& working_folder,
                                     std::uint32_t timeout_ms);

// How a waited-for program went: Started false with the system's reason
// when it could not start; ExitCode read when it ended in time.
struct TProgramOutcome {
  bool Started = false;
  bool Ended = false;
  std::uint32_t ExitCode = 0;
  std::string Failure;
};
TProgramOutcome RunProgramAndWaitOutcome(const std::string& command_line, const std::string& working_folder,
                                         std::uint32_t timeout_ms);
// As RunProgramAndWaitOutcome, with the program's standard output and
// error written to `output_file` (created or emptied first).
TProgramOutcome RunProgramWithOutput(const std::string& command_line, const std::string& working_folder,
                                     const std::string& output_file, std::uint32_t timeout_ms);
// The system's reason when the program cannot start, "" when it started.
std::string LaunchProgram(const std::string& command_line, const std::string& working_folder);

// Ends every running process whose executable is the file `path` (the full
// path, compared ignoring case; one of the same name elsewhere is left
// alone) and waits for them. True when none was found or all ended within
// `timeout_ms`; a bare file name matches nothing. Refuses to end the running
// process itself: it is left out of the matches.
[[nodiscard]] bool TerminateProcessesByPath(const std::string& path, std::uint32_t timeout_ms);

}  // namespace volok
