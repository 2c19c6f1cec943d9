// Who runs the engine: the user's security identifier, whether the
// process holds administrator rights, and the way to run it with them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/default_slot.h"
#include "platform/status.h"

namespace volok::platform {

class Security {
 public:
  virtual ~Security() = default;

  static Security& Default() { return DefaultSlot<Security>::Get(); }
  static Security& BuiltIn();

  // The current user's SID as text ("S-1-5-21-…"), or empty when it cannot
  // be read. POSIX: "S-1-22-1-<uid>", the SID form of a Unix user.
  virtual std::string CurrentUserSid() = 0;
  // Windows: the service manager opens with full access. POSIX: effective
  // uid 0.
  virtual bool IsAdministrator() = 0;
  // Runs `program` with `parameters` (a Windows command line's arguments)
  // with administrator rights, in the current folder, waits for it to end
  // and gives its exit code. Windows: ShellExecuteExW with the verb
  // "runas", which asks the user through UAC; fails when the user declines
  // or the program cannot start. POSIX has no such request: it fails.
  virtual Status RunElevated(const std::string& program, const std::string& parameters, std::uint32_t& exit_code);
};

// The text form of a SID: "S-<revision>-<authority>" and "-<sub-authority>"
// for each. An authority whose first or second byte is set is written as
// twelve hexadecimal digits after "0x", otherwise as the decimal value of its
// last four bytes.
std::string FormatSid(std::uint8_t revision, const std::uint8_t authority[6],
                      const std::vector<std::uint32_t>& sub_authorities);

}  // namespace volok::platform
