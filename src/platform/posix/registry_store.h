// Where the native registry store lives.
#pragma once

#include <string>

namespace volok::platform::posix {

// The store's folder (native path), and whether it lies in the user's data
// folder (where folders made for it are private to the user, as XDG asks):
// $VOLOK_REGISTRY_DIR, else $XDG_DATA_HOME/volok/registry, else
// ~/.local/share/volok/registry.
std::string RegistryStoreFolder(bool* private_folder = nullptr);

}  // namespace volok::platform::posix
