// The engine's state folder: where its journals and their locks live. A
// journal is an instruction to the next elevated run, so the folder, every
// folder above it and every file read there must be writable by nobody but
// the running account, the administrators and the system; what another
// account put there is never read, and never blocks a run either.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/status.h"

namespace volok::platform {

// Where the state folder lies: `Names`, the folders the engine makes and
// owns, below `Base`, which belongs to the system or the running account
// (Windows: {CommonAppData} and "volok", "journal").
struct StatePlace {
  std::string Base;
  std::vector<std::string> Names;
  // The engine's own default place: a folder or file that another account
  // made in place of one of `Names` is set aside (renamed to a unique name)
  // and replaced. A place the caller chose ($VOLOK_JOURNAL_DIR) is refused
  // instead, so that a variable can never make the engine rename someone
  // else's folder.
  bool SetAside = true;

  std::string Folder() const;
};

// The place of a folder the caller chose: its last name below its parent,
// nothing set aside.
StatePlace ChosenPlace(const std::string& folder);

// The File a lock is held by: it is never read or written through; each
// platform's lock closes its handle when destroyed.
class HeldLock : public File {
 public:
  Status Read(void*, std::size_t, std::size_t& done) override {
    done = 0;
    return Status::Ok();
  }
  Status Write(const void*, std::size_t) override { return Status::Failure("lock file"); }
  Status Seek(std::uint64_t) override { return Status::Ok(); }
  Status Size(std::uint64_t& size) override {
    size = 0;
    return Status::Ok();
  }
  Status Truncate() override { return Status::Ok(); }
  Status Flush() override { return Status::Ok(); }
};

// How strictly an entry is judged. A folder above the state folder may let
// others add entries (C:\ProgramData, /tmp with its sticky bit) but not
// delete, rename or take over what is in it; the state folder itself and
// its files let nobody else write at all.
enum class TrustScope { Above, Own };

// Checks every existing folder from the root down to `place.Base`, then
// makes or checks each of `place.Names`: a missing one is created with the
// protected descriptor (Windows: owner Administrators, full control for
// Administrators and SYSTEM only, nothing inherited; POSIX: mode 0700),
// an existing one of the engine's is tightened to it, and one that another
// account made or may write, or a link, is set aside (named in `notes`) or,
// where the place forbids that, refused. Fails, naming the folder and why,
// when a folder cannot be trusted or made.
Status PrepareStateFolder(const StatePlace& place, std::vector<std::string>& notes);

// Opens `path` in a prepared state folder, created protected (POSIX: 0600)
// when missing, without following a link, judged on the opened handle, and
// takes an exclusive lock that lasts while `lock` lives and ends with the
// process however it ends (POSIX: flock; Windows: a handle that shares
// nothing). `busy`: another process holds it.
Status LockStateFile(const std::string& path, std::unique_ptr<File>& lock, bool& busy);

enum class StateRead {
  Read,       // `bytes` holds the file
  Missing,    // no such file
  Untrusted,  // a link, not a regular file, or writable by another account: `why` says which
  Failed,     // it could not be read: `why` says why
};
// Reads a file of the state folder, opened without following a link and
// judged on the opened handle, not by its path.
StateRead ReadStateFile(const std::string& path, std::string& bytes, std::string& why);

// Renames the entry `path` of the state folder to a unique name beside it
// (`aside`), without following a link and never over an existing entry.
Status SetStateEntryAside(const std::string& path, std::string& aside);

// The verdict on an entry's owner and mode bits (st_uid, st_mode with its
// type bits), for the POSIX layer and its tests. Trusted owners: root and
// `running_uid`. `Above`: a folder nobody else may write unless its sticky
// bit is set; `Own`: a folder (or, with `want_folder` false, a regular
// file) nobody else may write. `why` says what failed.
[[nodiscard]] bool TrustedPosixEntry(unsigned uid, unsigned mode, unsigned running_uid, TrustScope scope,
                                     bool want_folder, std::string& why);

}  // namespace volok::platform
