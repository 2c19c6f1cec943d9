#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>

#include "platform/posix/path_map.h"
#include "platform/runtime.h"

extern char** environ;

namespace volok::platform {

namespace {

std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The quoted operand after `command` in `line`, mapped to a POSIX path.
bool Operand(const std::string& line, const std::string& command, std::string& path) {
  size_t at = line.find(command + " \"");
  if (at == std::string::npos) return false;
  size_t begin = at + command.size() + 2, end = line.find('"', begin);
  return end != std::string::npos && posix::ToNativePath(line.substr(begin, end - begin), path);
}

}  // namespace

void ShowMessage(const std::string& title, const std::string& text) { std::cerr << title << ": " << text << "\n"; }

bool StartBatch(const std::string& batch, const std::string& working_folder) {
  std::string native_batch, native_folder;
  if (!posix::ToNativePath(batch, native_batch) || !posix::ToNativePath(working_folder, native_folder)) return false;
  std::ifstream in(native_batch);
  if (!in) return false;
  std::string script = "sleep 0.5";
  for (std::string line; std::getline(in, line);) {
    std::string path;
    if (Operand(line, "@del", path)) script += "; rm -f " + ShellQuote(path);
    if (Operand(line, "rmdir", path)) script += "; rmdir " + ShellQuote(path) + " 2>/dev/null";
  }
  script = "cd " + ShellQuote(native_folder) + " && (" + script + ")";
  // Detached through a second fork so the deletions outlive this process
  // and leave no zombie behind.
  const char* argv[] = {"/bin/sh", "-c", script.c_str(), nullptr};
  pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    setsid();
    pid_t grandchild;
    int rc = posix_spawn(&grandchild, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ);
    _exit(rc == 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace volok::platform

namespace volok::platform {
bool RawCommandLine(std::string&) { return false; }
}  // namespace volok::platform
