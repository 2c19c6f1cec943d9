// The security descriptors of the state folder: the one the engine gives
// what it makes there, and the verdict on one it finds. Kept apart so that
// tests under Wine, which keeps no descriptors on disk, judge descriptors
// they build from SDDL with the very code that judges the disk.
#pragma once

#include <string>

#include "platform/state_folder.h"

namespace volok::platform::win32 {

// The protected descriptor (owner Administrators; full control for
// Administrators and SYSTEM, inherited by everything below; nothing
// inherited from above) as the system renders it in SDDL.
std::string ProtectedDescriptorSddl();

// The verdict on a descriptor given in SDDL, as PrepareStateFolder and the
// state-file reads judge the descriptor of an opened handle. Trusted
// owners and grantees: SYSTEM, Administrators, TrustedInstaller and
// `user_sid` (the running account). `Above`: nobody else may delete,
// rename or take over (DELETE, FILE_DELETE_CHILD, WRITE_DAC, WRITE_OWNER);
// `Own`: nobody else may write at all. A descriptor without an access list
// lets everyone do everything. False, with `why`, for a descriptor that is
// not valid SDDL.
[[nodiscard]] bool TrustedDescriptorSddl(const std::string& sddl, const std::string& user_sid, TrustScope scope,
                                         std::string& why);

}  // namespace volok::platform::win32
