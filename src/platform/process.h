// Process service: start programs, find running ones by executable, end them
// and wait for them. Command lines are Windows command lines (the program is
// the first token, quoted when it holds blanks).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/default_slot.h"
#include "platform/status.h"

namespace volok::platform {

// A wait without a time limit (Windows' INFINITE).
constexpr std::uint32_t kInfiniteWait = 0xFFFFFFFFu;

// A process this program holds open. Closed (not ended) on destruction.
class Process {
 public:
  virtual ~Process() = default;
  // Ends the process at once, as TerminateProcess does (POSIX: SIGKILL).
  virtual Status Terminate() = 0;
  // True when the process ended within `timeout_ms`.
  [[nodiscard]] virtual bool Wait(std::uint32_t timeout_ms) = 0;
  // The exit code of a process this program started and has waited for
  // (POSIX: a signal's end reads as 128 + its number); fails before then.
  virtual Status ExitCode(std::uint32_t& code) = 0;
  // The full path of the process's executable, as a Windows path.
  virtual Status ExecutablePath(std::string& path) = 0;
};

// One running process as a snapshot lists it.
struct ProcessEntry {
  std::uint32_t Id = 0;
  std::string ExeName;  // the executable's file name, no folder
};

class Processes {
 public:
  virtual ~Processes() = default;

  static Processes& Default() { return DefaultSlot<Processes>::Get(); }
  static Processes& BuiltIn();

  // Starts `command_line` with `working_folder` as its current folder; the
  // folder is passed as given, so an empty one fails the start (Windows:
  // CreateProcessW, no handles inherited, the caller's environment).
  virtual Status Start(const std::string& command_line, const std::string& working_folder,
                       std::unique_ptr<Process>& process) = 0;
  // Starts like Start with the program's standard output and error both
  // written to `output_file` (created or emptied first), so its messages
  // can be shown to the user; standard input reads nothing.
  virtual Status StartWithOutput(const std::string& command_line, const std::string& working_folder,
                                 const std::string& output_file, std::unique_ptr<Process>& process) = 0;
  // Starts like Start but keeps nothing: the process outlives any handle
  // and leaves nothing for this program to collect.
  virtual Status Launch(const std::string& command_line, const std::string& working_folder) = 0;
  // The running processes (Windows: a Toolhelp snapshot; POSIX: /proc).
  virtual Status List(std::vector<ProcessEntry>& entries) = 0;
  // Opens a listed process for ending and waiting; fails for one this user
  // may not touch or that has ended.
  virtual Status Open(std::uint32_t id, std::unique_ptr<Process>& process) = 0;
  // True when every process (each opened by this service) ended within
  // `timeout_ms` in total. Windows waits
  // in groups of at most 64 handles, the most one wait call takes.
  [[nodiscard]] virtual bool WaitAll(const std::vector<Process*>& processes, std::uint32_t timeout_ms) = 0;
};

}  // namespace volok::platform
