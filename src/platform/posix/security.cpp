#include "platform/security.h"

#include <unistd.h>

namespace volok::platform {

namespace {

class PosixSecurity final : public Security {
 public:
  std::string CurrentUserSid() override {
    const std::uint8_t unix_authority[6] = {0, 0, 0, 0, 0, 22};
    return FormatSid(1, unix_authority, {1, static_cast<std::uint32_t>(getuid())});
  }
  bool IsAdministrator() override { return geteuid() == 0; }
};

}  // namespace

Security& Security::BuiltIn() {
  static PosixSecurity instance;
  return instance;
}

}  // namespace volok::platform
