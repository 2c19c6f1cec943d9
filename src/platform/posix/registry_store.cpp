#include "platform/posix/registry_store.h"

#include <cstdlib>

namespace volok::platform::posix {

std::string RegistryStoreFolder(bool* private_folder) {
  if (private_folder) *private_folder = false;
  if (const char* dir = std::getenv("VOLOK_REGISTRY_DIR"); dir && *dir) return dir;
  if (private_folder) *private_folder = true;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') return std::string(data) + "/volok/registry";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/share/volok/registry";
}

}  // namespace volok::platform::posix
