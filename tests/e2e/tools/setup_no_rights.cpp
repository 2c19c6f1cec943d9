// The engine exactly as shipped, except that the process never holds
// administrator rights: the end-to-end runs are made with full rights (root,
// Wine's administrator), and the shipped program must offer no switch that
// takes them away. So the fault is injected through the platform's security
// seam in this separate test program only.
#include <string>

#include "app/command_line.h"
#include "app/entry.h"
#include "common/app_paths.h"
#include "platform/runtime.h"
#include "platform/security.h"

namespace {

class NoRights final : public volok::platform::Security {
 public:
  std::string CurrentUserSid() override { return BuiltIn().CurrentUserSid(); }
  bool IsAdministrator() override { return false; }
  // As a user who declines the elevation prompt: the run goes on without.
  volok::platform::Status RunElevated(const std::string&, const std::string&, std::uint32_t&) override {
    return volok::platform::Status::Failure("The operation was canceled by the user.");
  }
};

}  // namespace

int main(int argc, char** argv) {
  NoRights no_rights;
  volok::platform::ScopedDefault<volok::platform::Security> injected(no_rights);
  volok::platform::HardenDllSearch();
  volok::InitAppPaths();
  return volok::RunProgramMain(volok::ProcessParameters(argc, argv));
}
