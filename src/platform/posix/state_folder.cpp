// The state folder natively: every step opened relative to the folder above
// it without following a link and judged on the opened descriptor, so no
// name swapped between the check and the use changes what is used.
#include "platform/state_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <random>

#include "platform/posix/path_map.h"

namespace volok::platform {

namespace {

using posix::ErrnoMessage;

constexpr int kMaxRaces = 4;  // creation raced by another process: try again, a few times

// An owned descriptor.
class Fd final {
 public:
  explicit Fd(int fd = -1) : FFd(fd) {}
  ~Fd() {
    if (FFd >= 0) ::close(FFd);
  }
  Fd(Fd&& other) noexcept : FFd(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      if (FFd >= 0) ::close(FFd);
      FFd = other.Release();
    }
    return *this;
  }
  int get() const { return FFd; }
  bool valid() const { return FFd >= 0; }
  int Release() {
    int fd = FFd;
    FFd = -1;
    return fd;
  }

 private:
  int FFd;
};

class LockHandle final : public HeldLock {
 public:
  explicit LockHandle(int fd) : FFd(fd) {}

 private:
  Fd FFd;
};

std::string RandomSuffix() {
  std::random_device device;
  std::uniform_int_distribution<unsigned> digit(0, 15);
  std::string text;
  for (int i = 0; i < 8; ++i) text += "0123456789abcdef"[digit(device)];
  return text;
}

Status Untrusted(const std::string& shown, const std::string& why) {
  return Status::Failure("Папке журнала установки нельзя доверять: \"" + posix::FromNativePath(shown) + "\": " +
                         why + ".");
}

bool Judge(int fd, TrustScope scope, bool want_folder, std::string& why, struct stat& st) {
  if (::fstat(fd, &st) != 0) {
    why = ErrnoMessage(errno, "");
    return false;
  }
  return TrustedPosixEntry(st.st_uid, st.st_mode, static_cast<unsigned>(::geteuid()), scope, want_folder, why);
}

bool Judge(int fd, TrustScope scope, bool want_folder, std::string& why) {
  struct stat st;
  return Judge(fd, scope, want_folder, why, st);
}

// Takes group and other access away from an entry of the engine's.
Status Tighten(int fd, const struct stat& st, unsigned mode, const std::string& shown) {
  if ((st.st_mode & 077) == 0 || st.st_uid != ::geteuid()) return Status::Ok();
  return ::fchmod(fd, mode) == 0 ? Status::Ok() : Status::Failure(ErrnoMessage(errno, shown));
}

// `native` with the links of its deepest existing part resolved.
std::string Resolved(const std::string& native) {
  std::string existing = native, rest;
  for (;;) {
    if (char* real = ::realpath(existing.c_str(), nullptr)) {
      std::string resolved = real;
      std::free(real);
      return resolved + rest;
    }
    const std::size_t slash = existing.rfind('/');
    if (slash == std::string::npos || slash == 0) return native;
    rest = existing.substr(slash) + rest;
    existing.erase(slash);
  }
}

// Renames `name` in `parent` to a fresh unique name beside it.
Status RenameAside(int parent, const std::string& name, const std::string& shown, std::string& aside) {
  for (int attempt = 0; attempt < kMaxRaces; ++attempt) {
    aside = name + ".untrusted-" + RandomSuffix();
    if (::renameat2(parent, name.c_str(), parent, aside.c_str(), RENAME_NOREPLACE) == 0) return Status::Ok();
    if (errno != EEXIST) return Status::Failure(ErrnoMessage(errno, shown));
  }
  return Status::Failure(ErrnoMessage(EEXIST, shown));
}

// Opens the folder `name` of `parent` for the owned part of the place:
// made 0700 when missing, tightened when the engine's, set aside or refused
// when not.
Status OpenOwnedFolder(int parent, const std::string& name, const std::string& shown, bool set_aside,
                       std::vector<std::string>& notes, Fd& folder) {
  for (int attempt = 0; attempt < kMaxRaces; ++attempt) {
    folder = Fd(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.valid() && errno == ENOENT) {
      if (::mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) return Status::Failure(ErrnoMessage(errno, shown));
      continue;  // opened and judged on the next turn, whoever made it
    }
    std::string why;
    struct stat st;
    if (folder.valid() && Judge(folder.get(), TrustScope::Own, true, why, st))
      return Tighten(folder.get(), st, 0700, shown);
    if (!folder.valid()) {
      if (errno != ELOOP && errno != ENOTDIR) return Status::Failure(ErrnoMessage(errno, shown));
      why = errno == ELOOP ? "это символическая ссылка" : "это не папка";
    }
    if (!set_aside) return Untrusted(shown, why);
    std::string aside;
    if (Status moved = RenameAside(parent, name, shown, aside); !moved.ok()) return Untrusted(shown, why + "; " + moved.message());
    notes.push_back("Чужая папка на месте папки журнала установки (" + why + "): \"" + posix::FromNativePath(shown) +
                    "\" переименована в \"" + aside + "\".");
  }
  return Status::Failure(ErrnoMessage(EEXIST, shown));
}

// Opens every folder from the root down to `native`, each relative to the
// one above it, checking each; a missing one is made as an owned one.
Status OpenAbove(const std::string& native, std::vector<std::string>& notes, Fd& folder) {
  folder = Fd(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::string shown = "/";
  std::string why;
  if (!folder.valid() || !Judge(folder.get(), TrustScope::Above, true, why)) return Untrusted(shown, why);
  // Links above the place (a /home that is a link) are resolved first; the
  // walk below then follows none.
  for (const std::string& name : posix::ResolveDots(Resolved(native), '/', false)) {
    shown += (shown.size() > 1 ? "/" : "") + name;
    Fd next(::openat(folder.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next.valid() && errno == ENOENT) {
      if (Status made = OpenOwnedFolder(folder.get(), name, shown, false, notes, next); !made.ok()) return made;
    } else if (!next.valid()) {
      return Untrusted(shown, errno == ELOOP ? "это символическая ссылка" : ErrnoMessage(errno, ""));
    } else if (!Judge(next.get(), TrustScope::Above, true, why)) {
      return Untrusted(shown, why);
    }
    folder = std::move(next);
  }
  return Status::Ok();
}

// Opens a file of the state folder without following a link.
Fd OpenStateFile(const std::string& native, int flags) {
  return Fd(::open(native.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600));
}

}  // namespace

Status PrepareStateFolder(const StatePlace& place, std::vector<std::string>& notes) {
  std::string native;
  if (!posix::ToNativePath(place.Base, native)) return Status::Failure(posix::UnmappedPathMessage(place.Base));
  if (native.empty() || native[0] != '/') {
    char* current = ::getcwd(nullptr, 0);
    if (!current) return Status::Failure(ErrnoMessage(errno, place.Base));
    native = std::string(current) + "/" + native;
    std::free(current);
  }
  Fd folder;
  if (Status above = OpenAbove(native, notes, folder); !above.ok()) return above;
  std::string shown = native;
  for (const std::string& name : place.Names) {
    shown += "/" + name;
    Fd next;
    if (Status owned = OpenOwnedFolder(folder.get(), name, shown, place.SetAside, notes, next); !owned.ok())
      return owned;
    folder = std::move(next);
  }
  return Status::Ok();
}

Status LockStateFile(const std::string& path, std::unique_ptr<File>& lock, bool& busy) {
  busy = false;
  std::string native;
  if (!posix::ToNativePath(path, native)) return Status::Failure(posix::UnmappedPathMessage(path));
  Fd fd = OpenStateFile(native, O_RDWR);
  if (!fd.valid() && errno == ENOENT) fd = OpenStateFile(native, O_RDWR | O_CREAT | O_EXCL);
  if (!fd.valid() && errno == EEXIST) fd = OpenStateFile(native, O_RDWR);
  if (!fd.valid()) return Status::Failure(ErrnoMessage(errno, path));
  std::string why;
  struct stat st;
  if (!Judge(fd.get(), TrustScope::Own, false, why, st)) return Untrusted(native, why);
  // Nobody else may even open it: a shared lock of theirs would hold off every run.
  if (Status tightened = Tighten(fd.get(), st, 0600, path); !tightened.ok()) return tightened;
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    busy = errno == EWOULDBLOCK;
    return Status::Failure(ErrnoMessage(errno, path));
  }
  lock = std::make_unique<LockHandle>(fd.Release());
  return Status::Ok();
}

StateRead ReadStateFile(const std::string& path, std::string& bytes, std::string& why) {
  bytes.clear();
  std::string native;
  if (!posix::ToNativePath(path, native)) {
    why = posix::UnmappedPathMessage(path);
    return StateRead::Failed;
  }
  Fd fd = OpenStateFile(native, O_RDONLY);
  if (!fd.valid()) {
    if (errno == ENOENT) return StateRead::Missing;
    why = errno == ELOOP ? "это символическая ссылка" : ErrnoMessage(errno, path);
    return errno == ELOOP ? StateRead::Untrusted : StateRead::Failed;
  }
  if (!Judge(fd.get(), TrustScope::Own, false, why)) return StateRead::Untrusted;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n == 0) return StateRead::Read;
    if (n > 0) {
      bytes.append(buffer, static_cast<std::size_t>(n));
    } else if (errno != EINTR) {
      why = ErrnoMessage(errno, path);
      return StateRead::Failed;
    }
  }
}

Status SetStateEntryAside(const std::string& path, std::string& aside) {
  std::string native;
  if (!posix::ToNativePath(path, native)) return Status::Failure(posix::UnmappedPathMessage(path));
  const std::size_t slash = native.rfind('/');
  const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : native.substr(0, slash);
  const std::string name = slash == std::string::npos ? native : native.substr(slash + 1);
  Fd folder(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid()) return Status::Failure(ErrnoMessage(errno, path));
  Status moved = RenameAside(folder.get(), name, path, aside);
  if (moved.ok()) aside = posix::FromNativePath(parent + "/" + aside);
  return moved;
}

}  // namespace volok::platform
