// The docking layout of a container and everything inside it.
#pragma once

#include "platform/ui/controls.h"

namespace volok::platform::ui {

// The width a vertical scroll bar takes from a scroll box.
inline constexpr int kScrollBarWidth = 17;

void LayoutContainer(TContainer& container);

}  // namespace volok::platform::ui
