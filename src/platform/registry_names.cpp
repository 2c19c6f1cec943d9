#include "platform/registry.h"

namespace volok::platform {

std::string RegistryRootName(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::ClassesRoot: return "HKEY_CLASSES_ROOT";
    case RegistryRoot::CurrentUser: return "HKEY_CURRENT_USER";
    case RegistryRoot::LocalMachine: return "HKEY_LOCAL_MACHINE";
    case RegistryRoot::Users: return "HKEY_USERS";
    case RegistryRoot::CurrentConfig: return "HKEY_CURRENT_CONFIG";
  }
  return "HKEY_UNKNOWN";
}

}  // namespace volok::platform
