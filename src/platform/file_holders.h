// Programs that hold files: which running programs keep files below a
// folder open (Windows: the Restart Manager; POSIX: /proc), closing them and
// starting them again afterwards. An upgrade or uninstall asks before it
// moves anything, so a user learns which program to close instead of a bare
// sharing violation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/default_slot.h"
#include "platform/status.h"

namespace volok::platform {

// One program that holds a file below the session's folder.
struct FileHolder {
  std::uint32_t Id = 0;
  // The name a user knows it by: the Restart Manager's application name,
  // else the executable's file name.
  std::string Name;
  // False for what must not be closed: a critical system process, this
  // process or one of the programs that started it, one this user may not
  // end.
  bool CanClose = true;
  // One of the programs that started this one (a shell, a deployment tool
  // or the uninstaller that waits for its copy): it waits for the run and
  // holds the folder only as its current one.
  bool Caller = false;
};

// One look at one folder, from its registration to its end (Windows: one
// Restart Manager session, ended on destruction). Not thread-safe.
class HolderSession {
 public:
  virtual ~HolderSession() = default;
  // The programs that hold a file of the folder now, this process never
  // among them.
  virtual Status Holders(std::vector<FileHolder>& holders) = 0;
  // Closes the closable holders: first asked to end (Windows: RmShutdown;
  // POSIX: SIGTERM), and those still running after a bounded wait ended by
  // force (RmForceShutdown; SIGKILL). Fails naming those that still run.
  virtual Status Close() = 0;
  // Starts again what Close ended (Windows: RmRestart, for programs that
  // registered for it; POSIX: the same executable with its command line,
  // current folder and environment, as the user it ran as). Does nothing
  // before Close.
  virtual Status Restart() = 0;
};

class FileHolders {
 public:
  virtual ~FileHolders() = default;

  static FileHolders& Default() { return DefaultSlot<FileHolders>::Get(); }
  static FileHolders& BuiltIn();

  // Registers every file below `folder` (links not followed) and opens the
  // session that watches them. A missing folder gives a session that lists
  // nothing.
  virtual Status Open(const std::string& folder, std::unique_ptr<HolderSession>& session) = 0;
};

}  // namespace volok::platform
