// The DPI of a window and the sizes that follow from it. The program declares
// per-monitor (v2) awareness in its manifest, so Windows never stretches its
// bitmap: every size is scaled here from the 96-DPI layout. Include only from
// platform/ui/win32/*.cpp, after <windows.h>.
#pragma once

#include "platform/ui/controls.h"

namespace volok::platform::ui::win32 {

// Absent from the headers of older Windows versions.
inline constexpr UINT kWmDpiChanged = 0x02E0;

// The DPI of the screen `window` is on (the system DPI where Windows cannot
// tell a window's own, before Windows 10).
int WindowDpi(HWND window);
// The DPI of the screen's device context (what a rich edit turns points by).
int DeviceDpi(HDC dc);
// The DPI a control's form is shown at.
int ControlDpi(const TControl& control);
// Layout pixels to device pixels at `dpi`; a rectangle's edges are scaled, so
// neighbours stay neighbours.
RECT ScaledRect(const TRect& rect, int dpi);
// The outer size of a top-level window whose client area is `width` x
// `height` layout pixels.
SIZE FrameSize(HWND window, int width, int height, int dpi);

}  // namespace volok::platform::ui::win32
