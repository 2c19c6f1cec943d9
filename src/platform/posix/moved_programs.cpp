#include "platform/posix/moved_programs.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>

namespace volok::platform::posix {

namespace {

struct Remembered {
  unsigned long long StartTime = 0;  // tells the process from a later one with its id
  std::string Path;
};

std::mutex& TableLock() {
  static std::mutex lock;
  return lock;
}

std::map<pid_t, Remembered>& Table() {
  static std::map<pid_t, Remembered> table;
  return table;
}

bool ExecutableNow(pid_t pid, std::string& path) {
  char buffer[4096];
  std::string link = "/proc/" + std::to_string(pid) + "/exe";
  ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer);
  if (length <= 0 || length == sizeof buffer) return false;
  path.assign(buffer, static_cast<std::size_t>(length));
  return true;
}

std::string Canonical(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return {};
  std::string result = resolved;
  std::free(resolved);
  return result;
}

// A moved file's old place: its folder still exists and may be reached
// through links, which /proc never shows.
std::string CanonicalOldPlace(const std::string& source) {
  std::size_t slash = source.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : source.substr(0, slash);
  std::string parent = Canonical(folder);
  if (parent.empty()) return {};
  return (parent == "/" ? "" : parent) + "/" + source.substr(slash == std::string::npos ? 0 : slash + 1);
}

}  // namespace

// Field 22 of /proc/<pid>/stat, counted after the name in parentheses (which
// may hold blanks and parentheses itself); 0 when unreadable.
unsigned long long ProcessStartTime(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t at = stat.rfind(')');
  if (at == std::string::npos) return 0;
  const char* p = stat.c_str() + at + 1;
  for (int field = 3; field <= 22; ++field) {
    char* end = nullptr;
    while (*p == ' ') ++p;
    if (field == 22) return std::strtoull(p, &end, 10);
    while (*p && *p != ' ') ++p;
  }
  return 0;
}

void RememberMovedPrograms(const std::string& source, const std::string& target) {
  std::string from = CanonicalOldPlace(source), to = Canonical(target);
  if (from.empty() || to.empty()) return;
  DIR* proc = ::opendir("/proc");
  if (!proc) return;
  std::lock_guard<std::mutex> guard(TableLock());
  while (const dirent* item = ::readdir(proc)) {
    char* end = nullptr;
    long id = std::strtol(item->d_name, &end, 10);
    std::string now;
    if (*end != '\0' || id <= 0 || !ExecutableNow(static_cast<pid_t>(id), now)) continue;
    if (now != to && now.compare(0, to.size() + 1, to + "/") != 0) continue;
    auto pid = static_cast<pid_t>(id);
    unsigned long long started = ProcessStartTime(pid);
    auto found = Table().find(pid);
    if (found != Table().end() && found->second.StartTime == started) continue;
    Table()[pid] = {started, from + now.substr(to.size())};
  }
  ::closedir(proc);
}

bool ProgramPath(pid_t pid, std::string& path) {
  if (!ExecutableNow(pid, path)) return false;
  std::lock_guard<std::mutex> guard(TableLock());
  auto found = Table().find(pid);
  if (found == Table().end()) return true;
  if (found->second.StartTime == ProcessStartTime(pid)) {
    path = found->second.Path;
  } else {
    Table().erase(found);  // the id now names another process
  }
  return true;
}

}  // namespace volok::platform::posix
