// POSIX has no native window: the built-in toolkit is the headless one,
// which says so through HasWindow().
#include "platform/ui/headless_toolkit.h"

namespace volok::platform::ui {

TToolkit& TToolkit::BuiltIn() {
  static THeadlessToolkit toolkit;
  return toolkit;
}

}  // namespace volok::platform::ui
