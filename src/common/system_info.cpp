#include "common/system_info.h"

#include "platform/security.h"

namespace volok {

std::string GetSpecialFolder(platform::SpecialFolderId id) { return platform::Shell::Default().SpecialFolder(id); }

std::string GetCurrentUserSid() { return platform::Security::Default().CurrentUserSid(); }

}  // namespace volok
