#include "app/elevation.h"

#include "common/app_paths.h"
#include "platform/security.h"

namespace volok {

std::string ElevatedArguments(const std::vector<std::string>& parameters, const std::vector<std::string>& rests) {
  std::string arguments = "/elevated";
  if (parameters.size() < 2) return arguments;
  if (rests.size() == parameters.size()) return arguments + " " + rests[1];
  for (std::size_t i = 1; i < parameters.size(); ++i) {
    const std::string& parameter = parameters[i];
    const bool quote = parameter.empty() || parameter.find_first_of(" \t") != std::string::npos;
    arguments += " " + (quote ? "\"" + parameter + "\"" : parameter);
  }
  return arguments;
}

bool RunElevatedForScope(TInstallScope scope, const std::string& arguments, int& exit_code, std::string& failure) {
  failure.clear();
  platform::Security& security = platform::Security::Default();
  if (scope != TInstallScope::Machine || security.IsAdministrator()) return false;
  std::uint32_t code = 0;
  platform::Status status = security.RunElevated(ExeFileName(), arguments, code);
  if (!status.ok()) {
    failure = status.message();
    return false;
  }
  exit_code = static_cast<int>(code);
  return true;
}

}  // namespace volok
