// Native windows for the controls. Include only from platform/ui/win32/*.cpp,
// after <windows.h>.
#pragma once

#include "platform/ui/controls.h"

namespace volok::platform::ui::win32 {

// The message that runs a form's OnWake on the main thread.
constexpr UINT kWakeMessage = WM_APP + 1;

// Creates the native windows of `control` and everything inside it, with
// `parent` as their parent window (none for a form).
void CreatePeers(TControl& control, HWND parent);
// The window of a control, or of the nearest container that paints it.
HWND WindowOf(const TControl& control);
// Places and fonts of every control inside `container` again, at its form's
// DPI.
void RescaleTree(TContainer& container);
// The control of the form whose window has the keyboard focus, if any.
TControl* FocusedControl(HWND form_window);

}  // namespace volok::platform::ui::win32
