// The Win32 toolkit's real windows (under Wine here): the log view's text
// limit, the fixed-pitch fallback of a missing face, scaling to a new DPI,
// and keys reaching the form through the message loop. Without a display
// (Wine with no X server) no window can be made and the window tests are
// skipped; CTest runs them once more under xvfb-run.
#ifdef _WIN32
#include <windows.h>
#include <richedit.h>

#include <gtest/gtest.h>

#include "platform/ui/toolkit.h"
#include "platform/ui/win32/gdi.h"
#include "platform/ui/win32/peers.h"
#include "platform/win32/wide.h"

namespace volok::platform::ui {
namespace {

HWND Window(const TControl& control) { return win32::WindowOf(control); }

RECT ClientRect(HWND window) {
  RECT rect{};
  GetClientRect(window, &rect);
  return rect;
}

class Win32ToolkitTest : public ::testing::Test {
 protected:
  Win32ToolkitTest() : FForm("fmTest", 200, 120) {
    FButton = &FForm.Make<TButton>("btOk", "Далее");
    FButton->SetBounds({10, 10, 60, 24});
    FEdit = &FForm.Make<TEdit>("edText");
    FEdit->SetBounds({10, 40, 100, 21});
    FLog = &FForm.Make<TRichLog>("reLog");
    FLog->SetBounds({10, 70, 180, 40});
    FLog->SetFont({"Courier New", 11, true, true});
  }
  ~Win32ToolkitTest() override {
    if (FForm.Handle() && !FForm.Closed()) DestroyWindow(static_cast<HWND>(FForm.Handle()));
  }
  // Shows the form; false when there is no display to show it on.
  bool Show() {
    FToolkit.Show(FForm);
    return FForm.Handle() != nullptr;
  }
  TToolkit& FToolkit = TToolkit::BuiltIn();
  TForm FForm;
  TButton* FButton;
  TEdit* FEdit;
  TRichLog* FLog;
};

TEST_F(Win32ToolkitTest, LogViewKeepsEveryLine) {
  if (!Show()) GTEST_SKIP() << "no display";
  HWND log = Window(*FLog);
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(SendMessageW(log, EM_GETLIMITTEXT, 0, 0), 0x7FFFFFFE);
  // Far past the rich edit's default of 32,767 characters, in one message
  // too, as an archive's item list comes.
  std::string many;
  for (int i = 0; i < 3000; ++i) many += "folder\\file-" + std::to_string(i) + ".txt\r\n";
  FLog->AppendLine(many, Rgb(0, 0, 255));
  FLog->AppendLine("[Install] Установка завершена.", Rgb(0, 128, 0));
  GETTEXTLENGTHEX count{GTL_NUMCHARS | GTL_PRECISE, 1200};
  auto length = SendMessageW(log, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&count), 0);
  EXPECT_GT(length, 60000);
  // The last line is all there.
  std::wstring tail(31, L'\0');
  TEXTRANGEW range{{static_cast<LONG>(length - 30), static_cast<LONG>(length)}, tail.data()};
  SendMessageW(log, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(platform::win32::Narrow(tail.c_str()), "[Install] Установка завершена.");
}

TEST_F(Win32ToolkitTest, MissingFixedPitchFaceFallsBackToAFixedPitchFont) {
  for (const char* face : {"Courier New", "Volok No Such Face"}) {
    HFONT font = win32::FontFor({face, 11, true, true}, 96);
    ASSERT_NE(font, nullptr);
    HDC screen = GetDC(nullptr);
    HGDIOBJ old = SelectObject(screen, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(screen, &metrics);
    SelectObject(screen, old);
    ReleaseDC(nullptr, screen);
    // The flag's name is the wrong way round: set means variable pitch.
    EXPECT_EQ(metrics.tmPitchAndFamily & TMPF_FIXED_PITCH, 0) << face << " became " << platform::win32::Narrow(win32::FaceOf(font));
  }
}

TEST_F(Win32ToolkitTest, DpiChangeScalesWindowControlsAndFonts) {
  if (!Show()) GTEST_SKIP() << "no display";
  HWND form = static_cast<HWND>(FForm.Handle());
  int start_dpi = FForm.Dpi();
  RECT client = ClientRect(form);
  EXPECT_EQ(client.right, ScaleToDpi(200, start_dpi));
  EXPECT_EQ(client.bottom, ScaleToDpi(120, start_dpi));
  // What Windows sends when the window reaches a 150 % screen.
  RECT suggested{10, 10, 10 + 400, 10 + 300};
  SendMessageW(form, 0x02E0, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(FForm.Dpi(), 144);
  client = ClientRect(form);
  EXPECT_EQ(client.right, 300);
  // The window's frame is sized for 144 DPI while Wine, which sent no such
  // change itself, still draws its caption at 96: the client area may come
  // out a little taller, never shorter.
  EXPECT_GE(client.bottom, 180);
  RECT button{};
  GetWindowRect(Window(*FButton), &button);
  MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&button), 2);
  EXPECT_EQ(button.left, 15);
  EXPECT_EQ(button.top, 15);
  EXPECT_EQ(button.right - button.left, 90);
  EXPECT_EQ(button.bottom - button.top, 36);
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Window(*FEdit), WM_GETFONT, 0, 0)), sizeof font, &font);
  EXPECT_EQ(font.lfHeight, -ScaleToDpi(11, 144));
}

TEST_F(Win32ToolkitTest, KeysReachTheFormThroughTheLoop) {
  std::vector<std::string> pressed;
  FButton->OnClick = [&] { pressed.push_back("ok"); };
  auto& cancel = FForm.Make<TButton>("btCancel", "Выход");
  cancel.SetBounds({80, 10, 60, 24});
  cancel.OnClick = [&] {
    pressed.push_back("cancel");
    FForm.Close();
  };
  FForm.SetDefaultButtons({FButton});
  FForm.SetCancelButton(&cancel);
  if (!Show()) GTEST_SKIP() << "no display";
  // Buttons carry their captions for assistive tools.
  wchar_t caption[16] = L"";
  GetWindowTextW(Window(*FButton), caption, 16);
  EXPECT_EQ(platform::win32::Narrow(caption), "Далее");

  FForm.SetFocus(FEdit);
  HWND edit = Window(*FEdit);
  EXPECT_EQ(GetFocus(), edit);
  // The buttons' row comes before the field below it.
  EXPECT_EQ(FForm.TabOrder(), (std::vector<TControl*>{FButton, &cancel, FEdit}));
  PostMessageW(edit, WM_KEYDOWN, VK_SPACE, 1);   // left to the field
  PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 1);  // the default button
  PostMessageW(edit, WM_KEYDOWN, VK_TAB, 1);     // wraps to "Далее"
  PostMessageW(edit, WM_KEYDOWN, VK_SPACE, 1);   // presses it
  PostMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 1);  // "Выход" closes
  // Bounds the loop should the keys not arrive.
  PostMessageW(static_cast<HWND>(FForm.Handle()), WM_CLOSE, 0, 0);
  FToolkit.Run(FForm);
  EXPECT_EQ(pressed, (std::vector<std::string>{"ok", "ok", "cancel"}));
}

}  // namespace
}  // namespace volok::platform::ui
#endif
