// The DPI functions of Windows 10 are looked up at run time: the program also
// runs where user32 has not got them, and then the system DPI is the one.
#include <windows.h>

#include "platform/ui/win32/dpi.h"

namespace volok::platform::ui::win32 {

namespace {

template <class T>
T User32Function(const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

}  // namespace

int DeviceDpi(HDC dc) {
  int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
  return dpi > 0 ? dpi : kDesignDpi;
}

int WindowDpi(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static auto get_dpi_for_window = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
  if (get_dpi_for_window && window) {
    UINT dpi = get_dpi_for_window(window);
    if (dpi > 0) return static_cast<int>(dpi);
  }
  HDC screen = GetDC(nullptr);
  int dpi = DeviceDpi(screen);
  ReleaseDC(nullptr, screen);
  return dpi;
}

int ControlDpi(const TControl& control) {
  TForm* form = control.Form();
  return form ? form->Dpi() : kDesignDpi;
}

RECT ScaledRect(const TRect& rect, int dpi) {
  return {ScaleToDpi(rect.Left, dpi), ScaleToDpi(rect.Top, dpi), ScaleToDpi(rect.Left + rect.Width, dpi),
          ScaleToDpi(rect.Top + rect.Height, dpi)};
}

SIZE FrameSize(HWND window, int width, int height, int dpi) {
  using AdjustForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static auto adjust_for_dpi = User32Function<AdjustForDpiFn>("AdjustWindowRectExForDpi");
  RECT frame{0, 0, ScaleToDpi(width, dpi), ScaleToDpi(height, dpi)};
  auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
  auto ex_style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
  if (!adjust_for_dpi || !adjust_for_dpi(&frame, style, FALSE, ex_style, static_cast<UINT>(dpi)))
    AdjustWindowRectEx(&frame, style, FALSE, ex_style);
  return {frame.right - frame.left, frame.bottom - frame.top};
}

}  // namespace volok::platform::ui::win32
