// The Win32 toolkit: real windows for the controls, the message loop that
// also runs the form's wake-ups, message boxes and the folder dialog.
#include <windows.h>

#include "platform/ui/win32/dpi.h"
#include "platform/ui/win32/folder_dialog.h"
#include "platform/ui/win32/gdi.h"
#include "platform/ui/win32/peers.h"
#include "platform/ui/toolkit.h"
#include "platform/win32/wide.h"

namespace volok::platform::ui {

namespace {

using platform::win32::Widen;

HWND OwnerOf(TForm* form) { return form ? static_cast<HWND>(form->Handle()) : nullptr; }

bool KeyOf(WPARAM virtual_key, TKey& key) {
  switch (virtual_key) {
    case VK_TAB: key = TKey::Tab; return true;
    case VK_RETURN: key = TKey::Enter; return true;
    case VK_ESCAPE: key = TKey::Escape; return true;
    case VK_SPACE: key = TKey::Space; return true;
    case VK_LEFT: key = TKey::Left; return true;
    case VK_UP: key = TKey::Up; return true;
    case VK_RIGHT: key = TKey::Right; return true;
    case VK_DOWN: key = TKey::Down; return true;
    default: return false;
  }
}

// The keys the form handles itself, taken out of the loop before the focused
// control sees them (the system's dialog manager is not used: the controls'
// state and order live in the portable form). A key with Alt, and Enter or
// Escape while a drop-down's list is open, stay with the control. With no
// focused window, Windows sends keys to the active window as system keys.
bool HandleFormKey(TForm& form, const MSG& message) {
  HWND form_window = OwnerOf(&form);
  bool system_key = message.message == WM_SYSKEYDOWN && !(message.lParam & (1 << 29));
  if ((message.message != WM_KEYDOWN && !system_key) || !form_window) return false;
  if (message.hwnd != form_window && !IsChild(form_window, message.hwnd)) return false;
  TKey key;
  if (!KeyOf(message.wParam, key) || GetKeyState(VK_MENU) < 0 || GetKeyState(VK_CONTROL) < 0) return false;
  form.NoteFocus(win32::FocusedControl(form_window));
  TControl* focused = form.Focused();
  if (focused && focused->Kind() == TKind::Combo && (key == TKey::Enter || key == TKey::Escape) &&
      SendMessageW(win32::WindowOf(*focused), CB_GETDROPPEDSTATE, 0, 0))
    return false;
  if (!form.KeyDown(key, GetKeyState(VK_SHIFT) < 0)) return false;
  // The keyboard is in use: show focus marks from now on.
  if (IsWindow(form_window)) SendMessageW(form_window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
  return true;
}

class TWin32Toolkit final : public TToolkit {
 public:
  bool HasWindow() const override { return true; }

  void Show(TForm& form) override {
    form.Layout();
    win32::CreatePeers(form, nullptr);
    HWND window = OwnerOf(&form);
    if (!window) return;
    const TRect& b = form.Bounds();
    SIZE size = win32::FrameSize(window, b.Width, b.Height, form.Dpi());
    int x = (GetSystemMetrics(SM_CXSCREEN) - size.cx) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - size.cy) / 2;
    SetWindowPos(window, nullptr, x, y, size.cx, size.cy, SWP_NOZORDER);
    ShowWindow(window, SW_SHOWNORMAL);
    if (TControl* focused = form.Focused()) SetFocus(win32::WindowOf(*focused));
    UpdateWindow(window);
  }

  void Run(TForm& form) override {
    MSG message;
    while (!form.Closed() && GetMessageW(&message, nullptr, 0, 0) > 0) {
      if (HandleFormKey(form, message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  void Wake(TForm& form) override {
    if (HWND window = OwnerOf(&form)) PostMessageW(window, win32::kWakeMessage, 0, 0);
  }

  int ShowMessageBox(TForm* owner, const std::string& text, const std::string& caption, unsigned flags) override {
    return MessageBoxW(OwnerOf(owner), Widen(text).c_str(), Widen(caption).c_str(), flags);
  }

  bool BrowseForFolder(TForm* owner, const std::string& title, std::string& path) override {
    return win32::BrowseForFolder(OwnerOf(owner), title, path);
  }

  int TextHeight(const TFont& font, const std::string& text, int width, int dpi) override {
    HDC dc = GetDC(nullptr);
    RECT rect{0, 0, ScaleToDpi(width, dpi), 0};
    {
      win32::ScopedSelect use_font(dc, win32::FontFor(font, dpi));
      std::wstring wide = Widen(text.empty() ? std::string(" ") : text);
      DrawTextW(dc, wide.c_str(), -1, &rect, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    }
    ReleaseDC(nullptr, dc);
    // Back to layout pixels, rounded up so no line is cut.
    return ((rect.bottom - rect.top) * kDesignDpi + dpi - 1) / dpi;
  }
};

}  // namespace

TToolkit& TToolkit::BuiltIn() {
  static TWin32Toolkit toolkit;
  return toolkit;
}

}  // namespace volok::platform::ui
