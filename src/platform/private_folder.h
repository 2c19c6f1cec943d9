// Folders that only the running account and the machine's administrators
// may reach: an elevated run keeps there what it will run or read again (the
// uninstaller's temporary copy and its self-delete batch), so no other
// account can plant or swap anything in them.
#pragma once

#include <string>

#include "platform/status.h"

namespace volok::platform {

// The security descriptor (SDDL) such a folder gets on Windows: owner
// Administrators, full control for Administrators, SYSTEM and `user_sid`
// only, inherited by what is created inside, and nothing inherited from
// above.
std::string PrivateFolderSddl(const std::string& user_sid);
// Without the owner: for an account that may not name Administrators as
// owner (not elevated), which then owns the folder itself.
std::string PrivateFolderSddlOwnedByUser(const std::string& user_sid);

// Creates the folder `path`, which must not exist (fails for any existing
// name, a link included). Windows: with the descriptor above. POSIX: owned
// by the running account, mode 0700 whatever the umask.
Status MakePrivateFolder(const std::string& path);

}  // namespace volok::platform
