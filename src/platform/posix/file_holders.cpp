// Programs that hold files, from /proc: a process holds the folder when its
// executable, its current folder, an open descriptor or a mapped file lies
// at or below it. Linux never refuses a rename for an open file, so this is
// what the user is told and what /closeapplications closes, as on Windows.
#include "platform/file_holders.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>

#include "platform/posix/moved_programs.h"
#include "platform/posix/path_map.h"

namespace volok::platform {

namespace {

using posix::ErrnoMessage;

// How long a program asked to end may take before it is ended by force,
// and how long an ending by force may take.
constexpr int kGraceMs = 10000;
constexpr int kForceMs = 5000;

std::string ProcPath(pid_t pid, const char* leaf) { return "/proc/" + std::to_string(pid) + "/" + leaf; }

bool ReadLink(const std::string& link, std::string& target) {
  char buffer[PATH_MAX];
  ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer);
  if (length <= 0 || static_cast<std::size_t>(length) == sizeof buffer) return false;
  target.assign(buffer, static_cast<std::size_t>(length));
  return true;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The kernel marks a removed file's name so; it still lies where it was.
std::string WithoutDeleted(std::string path) {
  constexpr char kDeleted[] = " (deleted)";
  constexpr std::size_t kLength = sizeof kDeleted - 1;
  if (path.size() > kLength && path.compare(path.size() - kLength, kLength, kDeleted) == 0)
    path.resize(path.size() - kLength);
  return path;
}

bool Below(const std::string& path, const std::string& folder) {
  std::string plain = WithoutDeleted(path);
  return plain == folder || plain.compare(0, folder.size() + 1, folder + "/") == 0;
}

bool LinkBelow(const std::string& link, const std::string& folder) {
  std::string target;
  return ReadLink(link, target) && Below(target, folder);
}

// The path field of /proc/<pid>/maps starts at the first "/" of a line.
bool MapsBelow(pid_t pid, const std::string& folder) {
  std::ifstream in(ProcPath(pid, "maps"));
  std::string line;
  while (std::getline(in, line)) {
    std::size_t slash = line.find('/');
    if (slash != std::string::npos && Below(line.substr(slash), folder)) return true;
  }
  return false;
}

bool DescriptorsBelow(pid_t pid, const std::string& folder) {
  DIR* fds = ::opendir(ProcPath(pid, "fd").c_str());
  if (!fds) return false;
  bool found = false;
  while (const dirent* item = ::readdir(fds))
    if (item->d_name[0] != '.' && LinkBelow(ProcPath(pid, "fd") + "/" + item->d_name, folder)) {
      found = true;
      break;
    }
  ::closedir(fds);
  return found;
}

bool HoldsFolder(pid_t pid, const std::string& folder) {
  return LinkBelow(ProcPath(pid, "exe"), folder) || LinkBelow(ProcPath(pid, "cwd"), folder) ||
         DescriptorsBelow(pid, folder) || MapsBelow(pid, folder);
}

// "Name:\t<value>" of /proc/<pid>/status.
std::string StatusField(pid_t pid, const std::string& name) {
  std::ifstream in(ProcPath(pid, "status"));
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, name.size() + 1, name + ":") == 0) return line.substr(name.size() + 1);
  return {};
}

// This process and the ones that started it: ending the deployment tool or
// the shell that runs the install would end the install with it.
std::set<pid_t> OwnLine() {
  std::set<pid_t> line;
  for (pid_t pid = ::getpid(); pid > 0 && line.insert(pid).second;)
    pid = static_cast<pid_t>(std::strtol(StatusField(pid, "PPid").c_str(), nullptr, 10));
  line.insert(1);
  return line;
}

std::vector<std::string> NulSeparated(const std::string& bytes) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\0', start);
    if (end == std::string::npos) end = bytes.size();
    parts.push_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// What starting a closed program again takes, read before it is closed.
struct Relaunch {
  std::string Program, Folder;
  std::vector<std::string> Arguments, Environment;
  uid_t User = 0;
  gid_t Group = 0;
  std::vector<gid_t> Groups;
};

// The real ids of "Uid:"/"Gid:" and the "Groups:" list.
bool ReadIdentity(pid_t pid, Relaunch& relaunch) {
  char* end = nullptr;
  std::string uid = StatusField(pid, "Uid"), gid = StatusField(pid, "Gid");
  if (uid.empty() || gid.empty()) return false;
  relaunch.User = static_cast<uid_t>(std::strtoul(uid.c_str(), &end, 10));
  relaunch.Group = static_cast<gid_t>(std::strtoul(gid.c_str(), &end, 10));
  std::string groups = StatusField(pid, "Groups");
  for (const char* p = groups.c_str(); *p;) {
    unsigned long value = std::strtoul(p, &end, 10);
    if (end == p) break;
    relaunch.Groups.push_back(static_cast<gid_t>(value));
    p = end;
  }
  return true;
}

bool ReadRelaunch(pid_t pid, Relaunch& relaunch) {
  std::string program;
  if (!ReadLink(ProcPath(pid, "exe"), program) || !ReadLink(ProcPath(pid, "cwd"), relaunch.Folder)) return false;
  relaunch.Program = WithoutDeleted(program);
  relaunch.Folder = WithoutDeleted(relaunch.Folder);
  relaunch.Arguments = NulSeparated(ReadAll(ProcPath(pid, "cmdline")));
  relaunch.Environment = NulSeparated(ReadAll(ProcPath(pid, "environ")));
  return !relaunch.Arguments.empty() && ReadIdentity(pid, relaunch);
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Starts the program as the user it ran as, never as this process: an
// elevated install must not lend its rights to a program someone else
// started. Detached through a second fork, so nothing is left to collect.
Status StartAgain(Relaunch relaunch) {
  std::vector<char*> argv = Pointers(relaunch.Arguments), envp = Pointers(relaunch.Environment);
  pid_t child = ::fork();
  if (child < 0) return Status::Failure(ErrnoMessage(errno, relaunch.Program));
  if (child == 0) {
    if (::fork() != 0) ::_exit(0);
    ::setsid();
    if (::setgroups(relaunch.Groups.size(), relaunch.Groups.data()) != 0 && errno != EPERM) ::_exit(127);
    if (::setgid(relaunch.Group) != 0 || ::setuid(relaunch.User) != 0) ::_exit(127);
    if (::getuid() != relaunch.User || ::geteuid() != relaunch.User) ::_exit(127);
    if (::chdir(relaunch.Folder.c_str()) != 0 && ::chdir("/") != 0) ::_exit(127);
    ::execve(relaunch.Program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return Status::Ok();
}

// One listed holder, held through a pidfd once it is to be closed, so a
// reused id is never signalled.
struct Holder {
  FileHolder Entry;
  unsigned long long Started = 0;
};

int OpenPidFd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

// Waits until every descriptor's process has ended or `timeout_ms` passed;
// answers the indices still running.
std::vector<std::size_t> WaitEnded(const std::vector<int>& pidfds, const std::vector<std::size_t>& running,
                                   int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::vector<std::size_t> left = running;
  while (!left.empty()) {
    std::vector<pollfd> waiting;
    for (std::size_t index : left) waiting.push_back({pidfds[index], POLLIN, 0});
    auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (remaining <= 0) break;
    int ready = ::poll(waiting.data(), waiting.size(), static_cast<int>(remaining));
    if (ready < 0 && errno != EINTR) break;
    std::vector<std::size_t> still;
    for (std::size_t i = 0; i < left.size(); ++i)
      if (waiting[i].revents == 0) still.push_back(left[i]);
    left = still;
  }
  return left;
}

class ProcSession final : public HolderSession {
 public:
  explicit ProcSession(std::string folder) : FFolder(std::move(folder)) {}

  Status Holders(std::vector<FileHolder>& holders) override {
    holders.clear();
    FListed.clear();
    if (FFolder.empty()) return Status::Ok();
    DIR* proc = ::opendir("/proc");
    if (!proc) return Status::Failure(ErrnoMessage(errno, "/proc"));
    const std::set<pid_t> own = OwnLine();
    while (const dirent* item = ::readdir(proc)) {
      char* end = nullptr;
      long id = std::strtol(item->d_name, &end, 10);
      auto pid = static_cast<pid_t>(id);
      if (*end != '\0' || id <= 0 || pid == ::getpid() || !HoldsFolder(pid, FFolder)) continue;
      Holder holder;
      holder.Entry.Id = static_cast<std::uint32_t>(pid);
      holder.Entry.Name = NameOf(pid);
      holder.Entry.Caller = own.count(pid) > 0;
      holder.Entry.CanClose = !holder.Entry.Caller && (::kill(pid, 0) == 0);
      holder.Started = posix::ProcessStartTime(pid);
      FListed.push_back(holder);
      holders.push_back(holder.Entry);
    }
    ::closedir(proc);
    return Status::Ok();
  }

  Status Close() override {
    std::vector<int> pidfds;
    std::vector<const Holder*> closing;
    std::vector<std::size_t> running;
    std::vector<Relaunch> relaunches;
    for (const Holder& holder : FListed) {
      auto pid = static_cast<pid_t>(holder.Entry.Id);
      if (!holder.Entry.CanClose) continue;
      int pidfd = OpenPidFd(pid);
      // Ended already, or the id names another process by now.
      if (pidfd < 0) continue;
      if (posix::ProcessStartTime(pid) != holder.Started) {
        ::close(pidfd);
        continue;
      }
      Relaunch relaunch;
      bool restartable = ReadRelaunch(pid, relaunch);
      if (::syscall(SYS_pidfd_send_signal, pidfd, SIGTERM, nullptr, 0) != 0) {
        ::close(pidfd);
        continue;
      }
      if (restartable) relaunches.push_back(std::move(relaunch));
      running.push_back(pidfds.size());
      pidfds.push_back(pidfd);
      closing.push_back(&holder);
    }
    std::vector<std::size_t> left = WaitEnded(pidfds, running, kGraceMs);
    for (std::size_t index : left) (void)::syscall(SYS_pidfd_send_signal, pidfds[index], SIGKILL, nullptr, 0);
    left = WaitEnded(pidfds, left, kForceMs);
    for (int pidfd : pidfds) ::close(pidfd);
    FClosed.insert(FClosed.end(), relaunches.begin(), relaunches.end());
    if (left.empty()) return Status::Ok();
    std::string names;
    for (std::size_t index : left)
      names += (names.empty() ? "" : ", ") + closing[index]->Entry.Name + " (" +
               std::to_string(closing[index]->Entry.Id) + ")";
    return Status::Failure(names);
  }

  Status Restart() override {
    Status result = Status::Ok();
    for (Relaunch& relaunch : FClosed) {
      Status started = StartAgain(relaunch);
      if (!started.ok()) result = started;
    }
    FClosed.clear();
    return result;
  }

 private:
  static std::string NameOf(pid_t pid) {
    std::string program;
    if (ReadLink(ProcPath(pid, "exe"), program)) {
      program = WithoutDeleted(program);
      return program.substr(program.find_last_of('/') + 1);
    }
    std::string name = ReadAll(ProcPath(pid, "comm"));
    while (!name.empty() && name.back() == '\n') name.pop_back();
    return name;
  }

  std::string FFolder;  // canonical, no trailing "/"; empty: a missing folder
  std::vector<Holder> FListed;
  std::vector<Relaunch> FClosed;
};

class ProcFileHolders final : public FileHolders {
 public:
  Status Open(const std::string& folder, std::unique_ptr<HolderSession>& session) override {
    std::string native;
    if (!posix::ToNativePath(folder, native)) return Status::Failure(posix::UnmappedPathMessage(folder));
    // /proc shows resolved paths: compare with the folder as they show it.
    std::string canonical;
    if (char* resolved = ::realpath(native.c_str(), nullptr)) {
      canonical = resolved;
      std::free(resolved);
      if (canonical == "/") return Status::Failure(ErrnoMessage(EINVAL, folder));
    } else if (errno != ENOENT) {
      return Status::Failure(ErrnoMessage(errno, folder));
    }
    session = std::make_unique<ProcSession>(canonical);
    return Status::Ok();
  }
};

}  // namespace

FileHolders& FileHolders::BuiltIn() {
  static ProcFileHolders instance;
  return instance;
}

}  // namespace volok::platform
