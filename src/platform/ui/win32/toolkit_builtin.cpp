// The Win32 toolkit: real windows for the controls, the message loop that
// also runs the form's wake-ups, message boxes and the folder dialog.
#include <windows.h>

#include "platform/ui/win32/folder_dialog.h"
#include "platform/ui/win32/gdi.h"
#include "platform/ui/win32/peers.h"
#include "platform/ui/toolkit.h"
#include "platform/win32/wide.h"

namespace volok::platform::ui {

namespace {

using platform::win32::Widen;

HWND OwnerOf(TForm* form) { return form ? static_cast<HWND>(form->Handle()) : nullptr; }

class TWin32Toolkit final : public TToolkit {
 public:
  bool HasWindow() const override { return true; }

  void Show(TForm& form) override {
    form.Layout();
    win32::CreatePeers(form, nullptr);
    HWND window = OwnerOf(&form);
    if (!window) return;
    const TRect& b = form.Bounds();
    RECT frame{0, 0, b.Width, b.Height};
    DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
  }

  void Run(TForm& form) override {
    MSG message;
    while (!form.Closed() && GetMessageW(&message, nullptr, 0, 0) > 0) {
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

  int TextHeight(const TFont& font, const std::string& text, int width) override {
    HDC dc = GetDC(nullptr);
    RECT rect{0, 0, width, 0};
    {
      win32::ScopedSelect use_font(dc, win32::FontFor(font));
      std::wstring wide = Widen(text.empty() ? std::string(" ") : text);
      DrawTextW(dc, wide.c_str(), -1, &rect, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    }
    ReleaseDC(nullptr, dc);
    return rect.bottom - rect.top;
  }
};

}  // namespace

TToolkit& TToolkit::BuiltIn() {
  static TWin32Toolkit toolkit;
  return toolkit;
}

}  // namespace volok::platform::ui
