#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "platform/command_line.h"
#include "platform/posix/moved_programs.h"
#include "platform/posix/path_map.h"

namespace volok::platform {

namespace {

using posix::ErrnoMessage;

// Called through syscall(): this glibc's <sys/pidfd.h> lacks C linkage.
int PidFdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

// A process held through a pidfd, which stays bound to this one process
// even when its id is reused, and becomes readable when it ends.
class PosixProcess final : public Process {
 public:
  PosixProcess(pid_t pid, int pidfd, bool child) : FPid(pid), FPidFd(pidfd), FChild(child) {}
  ~PosixProcess() override {
    Reap();
    ::close(FPidFd);
  }
  PosixProcess(const PosixProcess&) = delete;
  PosixProcess& operator=(const PosixProcess&) = delete;

  Status Terminate() override {
    if (::syscall(SYS_pidfd_send_signal, FPidFd, SIGKILL, nullptr, 0) != 0)
      return Status::Failure(ErrnoMessage(errno, std::to_string(FPid)));
    return Status::Ok();
  }

  bool Wait(std::uint32_t timeout_ms) override;

  Status ExecutablePath(std::string& path) override {
    std::string native;
    if (!posix::ProgramPath(FPid, native))
      return Status::Failure(ErrnoMessage(errno ? errno : ESRCH, "/proc/" + std::to_string(FPid) + "/exe"));
    path = posix::FromNativePath(native);
    return Status::Ok();
  }

  int pidfd() const { return FPidFd; }
  // Collects an ended child so it leaves no zombie behind.
  void Reap() {
    int status = 0;
    if (!FChild || ::waitpid(FPid, &status, WNOHANG) != FPid) return;
    FChild = false;
    FExited = true;
    FExitCode = WIFEXITED(status) ? static_cast<std::uint32_t>(WEXITSTATUS(status))
                                  : 128u + static_cast<std::uint32_t>(WTERMSIG(status));
  }

  Status ExitCode(std::uint32_t& code) override {
    if (!FExited) return Status::Failure("Процесс не завершён или не запущен этой программой.");
    code = FExitCode;
    return Status::Ok();
  }

 private:
  pid_t FPid;
  int FPidFd;
  bool FChild;
  bool FExited = false;
  std::uint32_t FExitCode = 0;
};

bool WaitForAll(const std::vector<PosixProcess*>& processes, std::uint32_t timeout_ms) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::vector<pollfd> waiting;
  for (PosixProcess* process : processes) waiting.push_back({process->pidfd(), POLLIN, 0});
  while (!waiting.empty()) {
    int wait_ms = -1;
    if (timeout_ms != kInfiniteWait) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait_ms = left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
    }
    int ready = ::poll(waiting.data(), waiting.size(), wait_ms);
    if (ready < 0 && errno != EINTR) return false;
    if (ready == 0) return false;
    std::erase_if(waiting, [](const pollfd& entry) { return entry.revents != 0; });
  }
  for (PosixProcess* process : processes) process->Reap();
  return true;
}

bool PosixProcess::Wait(std::uint32_t timeout_ms) { return WaitForAll({this}, timeout_ms); }

bool IsExecutableFile(const std::string& native) {
  struct stat st;
  return ::stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(native.c_str(), X_OK) == 0;
}

// The program as execv needs it: a mapped path made absolute against this
// process's folder (the child changes folder before exec), or a bare name
// looked up in the current folder and then along PATH, as CreateProcessW
// looks in the current folder before the search path.
bool ResolveProgram(const std::string& program, std::string& native) {
  if (!posix::ToNativePath(program, native) || native.empty()) return false;
  char current[4096];
  // ".\app" is a path even once its "." is resolved away.
  if (program.find_first_of("\\/:") != std::string::npos) {
    if (native[0] != '/' && ::getcwd(current, sizeof current)) native = std::string(current) + "/" + native;
    return true;
  }
  if (::getcwd(current, sizeof current) && IsExecutableFile(std::string(current) + "/" + native)) {
    native = std::string(current) + "/" + native;
    return true;
  }
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= folders.size();) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string candidate = folders.substr(start, end - start) + "/" + native;
    if (end > start && IsExecutableFile(candidate)) {
      native = candidate;
      return true;
    }
    start = end + 1;
  }
  return true;  // exec reports the missing program
}

[[noreturn]] void ChildFails(int report) {
  int error = errno;
  (void)::write(report, &error, sizeof error);
  ::_exit(127);
}

// The descriptor a child's output goes to: -1 for none (it inherits ours).
class OutputFile final {
 public:
  OutputFile() = default;
  ~OutputFile() {
    if (FFd >= 0) ::close(FFd);
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  Status Open(const std::string* path) {
    if (!path) return Status::Ok();
    std::string native;
    if (!posix::ToNativePath(*path, native)) return Status::Failure(posix::UnmappedPathMessage(*path));
    FFd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    return FFd >= 0 ? Status::Ok() : Status::Failure(ErrnoMessage(errno, *path));
  }
  int fd() const { return FFd; }

 private:
  int FFd = -1;
};

// In the child: output to `fd`, input from nothing. dup2 clears the
// close-on-exec flag on the copies only.
bool RedirectChildOutput(int fd) {
  if (fd < 0) return true;
  int nothing = ::open("/dev/null", O_RDONLY);
  return nothing >= 0 && ::dup2(nothing, 0) == 0 && ::dup2(fd, 1) == 1 && ::dup2(fd, 2) == 2;
}

// In a child between fork and exec: closes every descriptor above stderr but
// `keep` and `also` (-1 for none). Close-on-exec alone leaves them open
// until the exec, and a child whose exec fails would otherwise hold the
// run's lock (a lock of the open file, which it shares) a moment after the
// parent has its answer and has ended the run.
void CloseRange(unsigned first, unsigned last) {
  if (::syscall(SYS_close_range, first, last, 0u) == 0) return;
  // A kernel before 5.9: one by one, as far as descriptors usually go.
  for (unsigned fd = first; fd <= last && fd < 65536; ++fd) (void)::close(static_cast<int>(fd));
}

void CloseInherited(int keep, int also) {
  const int kept[2] = {keep < also ? keep : also, keep < also ? also : keep};
  unsigned from = 3;
  for (int fd : kept) {
    if (fd < static_cast<int>(from)) continue;
    if (fd > static_cast<int>(from)) CloseRange(from, static_cast<unsigned>(fd) - 1);
    from = static_cast<unsigned>(fd) + 1;
  }
  CloseRange(from, ~0u);
}

// Forks and execs; with `detach` an intermediate child forks again and
// exits, so the program is adopted by init and never needs collecting.
// Only async-signal-safe calls run between fork and exec. A failed chdir
// or exec travels back through a close-on-exec pipe.
Status Spawn(const std::string& command_line, const std::string& working_folder, bool detach, pid_t& child,
             const std::string* output_file = nullptr) {
  std::vector<std::string> tokens = SplitCommandLine(command_line);
  std::string program, folder;
  if (tokens.empty() || !ResolveProgram(tokens[0], program)) return Status::Failure(ErrnoMessage(ENOENT, command_line));
  if (!posix::ToNativePath(working_folder, folder)) return Status::Failure(posix::UnmappedPathMessage(working_folder));
  OutputFile output;
  if (Status opened = output.Open(output_file); !opened.ok()) return opened;
  std::vector<char*> argv;
  for (std::string& token : tokens) argv.push_back(token.data());
  argv.push_back(nullptr);
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return Status::Failure(ErrnoMessage(errno, command_line));
  child = ::fork();
  if (child == 0) {
    CloseInherited(report[1], output.fd());
    if (detach) {
      pid_t grandchild = ::fork();
      if (grandchild < 0) ChildFails(report[1]);
      if (grandchild > 0) ::_exit(0);
    }
    if (::chdir(folder.c_str()) != 0 || !RedirectChildOutput(output.fd())) ChildFails(report[1]);
    ::execv(program.c_str(), argv.data());
    ChildFails(report[1]);
  }
  int fork_error = errno;
  ::close(report[1]);
  if (child < 0) {
    ::close(report[0]);
    return Status::Failure(ErrnoMessage(fork_error, command_line));
  }
  if (detach) ::waitpid(child, nullptr, 0);
  int error = 0;
  ssize_t got;
  while ((got = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  ::close(report[0]);
  if (got != sizeof error) return Status::Ok();
  if (!detach) ::waitpid(child, nullptr, 0);
  return Status::Failure(ErrnoMessage(error, command_line));
}

class PosixProcesses final : public Processes {
 public:
  Status Start(const std::string& command_line, const std::string& working_folder,
               std::unique_ptr<Process>& process) override {
    return StartChild(command_line, working_folder, nullptr, process);
  }

  Status StartWithOutput(const std::string& command_line, const std::string& working_folder,
                         const std::string& output_file, std::unique_ptr<Process>& process) override {
    return StartChild(command_line, working_folder, &output_file, process);
  }

  Status StartChild(const std::string& command_line, const std::string& working_folder,
                    const std::string* output_file, std::unique_ptr<Process>& process) {
    pid_t child = 0;
    Status status = Spawn(command_line, working_folder, false, child, output_file);
    if (!status.ok()) return status;
    int pidfd = PidFdOpen(child);
    if (pidfd < 0) {
      int error = errno;
      ::kill(child, SIGKILL);
      ::waitpid(child, nullptr, 0);
      return Status::Failure(ErrnoMessage(error, command_line));
    }
    process = std::make_unique<PosixProcess>(child, pidfd, true);
    return Status::Ok();
  }

  Status Launch(const std::string& command_line, const std::string& working_folder) override {
    pid_t child = 0;
    return Spawn(command_line, working_folder, true, child);
  }

  Status List(std::vector<ProcessEntry>& entries) override {
    entries.clear();
    DIR* proc = ::opendir("/proc");
    if (!proc) return Status::Failure(ErrnoMessage(errno, "/proc"));
    while (const dirent* item = ::readdir(proc)) {
      char* end = nullptr;
      unsigned long id = std::strtoul(item->d_name, &end, 10);
      if (*end != '\0' || id == 0) continue;
      // The executable's own name: "comm" is cut at 15 characters. Kernel
      // threads, ended processes and other users' have no readable link.
      std::string target;
      if (!posix::ProgramPath(static_cast<pid_t>(id), target)) continue;
      entries.push_back({static_cast<std::uint32_t>(id), target.substr(target.find_last_of('/') + 1)});
    }
    ::closedir(proc);
    return Status::Ok();
  }

  Status Open(std::uint32_t id, std::unique_ptr<Process>& process) override {
    int pidfd = PidFdOpen(static_cast<pid_t>(id));
    if (pidfd < 0) return Status::Failure(ErrnoMessage(errno, std::to_string(id)));
    process = std::make_unique<PosixProcess>(static_cast<pid_t>(id), pidfd, false);
    return Status::Ok();
  }

  bool WaitAll(const std::vector<Process*>& processes, std::uint32_t timeout_ms) override {
    std::vector<PosixProcess*> own;
    for (Process* process : processes) {
      auto* posix_process = dynamic_cast<PosixProcess*>(process);
      if (!posix_process) return false;
      own.push_back(posix_process);
    }
    return WaitForAll(own, timeout_ms);
  }
};

}  // namespace

Processes& Processes::BuiltIn() {
  static PosixProcesses instance;
  return instance;
}

}  // namespace volok::platform
