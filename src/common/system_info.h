// What the system says about its folders and its user; empty texts where it
// cannot tell.
#pragma once

#include <string>

#include "platform/shell.h"

namespace volok {

// The special folder's path without a trailing backslash, or empty.
std::string GetSpecialFolder(platform::SpecialFolderId id);
// The current user's SID as text, or empty.
std::string GetCurrentUserSid();

}  // namespace volok
