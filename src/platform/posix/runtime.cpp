#include "platform/runtime.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/posix/path_map.h"

namespace volok::platform {

std::string ExecutablePath() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return posix::FromNativePath(std::string(buffer, static_cast<size_t>(n)));
}

std::string RunningImagePath() { return "Z:\\proc\\self\\exe"; }

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

bool IsWin64() {
  utsname name;
  if (uname(&name) != 0) return sizeof(void*) == 8;
  return std::strstr(name.machine, "64") != nullptr;
}

void HardenDllSearch() {}

std::vector<std::string> ThisMachineNames() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || !name[0]) return {};
  return {name};
}

bool EnvironmentVariable(const std::string& name, std::string& value) {
  const char* text = std::getenv(name.c_str());
  if (!text) return false;
  value = text;
  return true;
}

StatePlace JournalPlace(bool) {
  std::string folder;
  if (EnvironmentVariable("VOLOK_JOURNAL_DIR", folder) && !folder.empty())
    return ChosenPlace(posix::FromNativePath(folder));
  if (EnvironmentVariable("XDG_STATE_HOME", folder) && !folder.empty() && folder[0] == '/')
    return {posix::FromNativePath(folder), {"volok", "journal"}};
  if (EnvironmentVariable("HOME", folder) && !folder.empty())
    return {posix::FromNativePath(folder + "/.local/state"), {"volok", "journal"}};
  return {};
}

bool SetCurrentFolder(const std::string& folder) {
  std::string native;
  return posix::ToNativePath(folder, native) && ::chdir(native.c_str()) == 0;
}

}  // namespace volok::platform
