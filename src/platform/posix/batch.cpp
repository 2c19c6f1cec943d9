#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <iterator>

#include "platform/code_pages.h"
#include "platform/folder_batch.h"
#include "platform/posix/batch_script.h"
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

}  // namespace

void ShowMessage(const std::string& title, const std::string& text) { std::cerr << title << ": " << text << "\n"; }

namespace {

// Runs the batch translated, in `working_folder`, then `after` (a shell
// command, or ""), detached.
bool RunBatch(const std::string& batch, const std::string& working_folder, const std::string& after) {
  std::string native_batch, native_folder;
  if (!posix::ToNativePath(batch, native_batch) || !posix::ToNativePath(working_folder, native_folder)) return false;
  std::ifstream in(native_batch, std::ios::binary);
  if (!in) return false;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The batch is written in the ANSI code page, as for cmd; a batch that
  // this runner cannot run as cmd would is not started at all.
  std::string script, error;
  if (!posix::BatchToShell(text, batch, CodePages::Default().ActiveAnsiCodePage(), script, error)) {
    std::cerr << "volok: batch " << native_batch << " not run: " << error << "\n";
    return false;
  }
  script = "cd -- " + ShellQuote(native_folder) + " || exit 1\n(\n" + script + "\n)\n" + after + "\n";
  // Detached through a second fork so the batch outlives this process and
  // leaves no zombie behind.
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

}  // namespace

bool StartBatch(const std::string& batch, const std::string& working_folder) {
  return RunBatch(batch, working_folder, "");
}

bool StartFolderBatch(const std::string& batch) {
  std::string folder, name, parent;
  if (!SplitFolderBatch(batch, parent, folder, name)) return false;
  // The names are plain (no quote, no leading "-"): rm removes links as
  // links, never what they point to.
  return RunBatch(batch, parent, "rm -rf -- ./" + folder);
}

}  // namespace volok::platform

namespace volok::platform {
bool RawCommandLine(std::string&) { return false; }
}  // namespace volok::platform
