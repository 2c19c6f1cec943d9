// The attacker of the elevated engine's tests: a standard account (uid and
// gid 65534, no groups) that runs shell steps in scratch folders it can
// reach, while the test itself runs as root. POSIX only.
#pragma once

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace volok::testing {

constexpr unsigned kOtherUid = 65534;

// Whether the test may act as two accounts: it runs as root and setpriv exists.
inline bool CanUseOtherAccount() {
  return ::geteuid() == 0 && std::system("command -v setpriv >/dev/null 2>&1") == 0;
}

// Runs `script` with /bin/sh as the other account; true when it exited 0.
inline bool AsOtherAccount(const std::string& script) {
  std::string quoted = "'";
  for (char c : script) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  quoted += "'";
  return std::system(("setpriv --reuid 65534 --regid 65534 --clear-groups /bin/sh -c " + quoted).c_str()) == 0;
}

// Hands `folder` to the other account (its own folder, as a user's would be).
inline void GiveToOtherAccount(const std::filesystem::path& folder) {
  if (::chown(folder.c_str(), kOtherUid, kOtherUid) != 0) std::abort();
}

}  // namespace volok::testing
#endif
