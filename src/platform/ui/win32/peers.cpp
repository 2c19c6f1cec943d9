// Each control gets a peer that mirrors its state into a native window:
// containers are windows of our own class that paint their labels and
// pictures themselves (as windowless controls), the rest are the system's
// controls. The user's actions come back through the control's own methods.
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

#include "platform/ui/win32/dpi.h"
#include "platform/ui/win32/gdi.h"
#include "platform/ui/win32/peers.h"
#include "platform/win32/system_library.h"
#include "platform/win32/wide.h"

namespace volok::platform::ui::win32 {

namespace {

using platform::win32::Narrow;
using platform::win32::Widen;

constexpr wchar_t kContainerClass[] = L"VolokContainer";
constexpr wchar_t kFormClass[] = L"VolokForm";
// A drop-down's window includes its list.
constexpr int kComboListHeight = 160;
// The rich edit's default limit is 32,767 characters, which one long message
// (an archive's item list) fills; the log view must keep every line.
constexpr LPARAM kLogTextLimit = 0x7FFFFFFE;

TControl* ControlOf(HWND window) { return reinterpret_cast<TControl*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

std::string WindowText(HWND window) {
  int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<size_t>(length));
  return Narrow(text);
}

class TWindowPeer final : public TPeer {
 public:
  TWindowPeer(TControl& control, HWND window) : FControl(control), FWindow(window) {}
  ~TWindowPeer() override {
    // A form's window owns the windows inside it.
    if (FControl.Kind() == TKind::Form && IsWindow(FWindow)) DestroyWindow(FWindow);
  }
  HWND Window() const { return FWindow; }
  void Update(TChange change) override;
  void ChildAdded(TControl& child) override { CreatePeers(child, FWindow); }
  // Shows what the control held before its window existed.
  void MirrorInitial();
  // Font and place again, at the form's DPI.
  void Rescale();

 private:
  void UpdateText();
  void UpdateBounds();
  void ApplyFont();
  void FitFormWindow();
  void UpdateScroll();
  void AppendLogLine(size_t index);

  TControl& FControl;
  HWND FWindow;
};

// Labels and pictures: their container paints them.
class TWindowlessPeer final : public TPeer {
 public:
  explicit TWindowlessPeer(TControl& control) : FControl(control) {}
  void Update(TChange change) override {
    if (FControl.Parent()) InvalidateRect(WindowOf(*FControl.Parent()), nullptr, TRUE);
  }

 private:
  TControl& FControl;
};

void TWindowPeer::Update(TChange change) {
  switch (change) {
    case TChange::Text: UpdateText(); break;
    case TChange::Visible:
      if (FControl.Kind() == TKind::Form && static_cast<TForm&>(FControl).Closed())
        DestroyWindow(FWindow);
      else if (FControl.Kind() != TKind::Form || IsWindowVisible(FWindow))
        ShowWindow(FWindow, FControl.Visible() ? SW_SHOWNA : SW_HIDE);
      break;
    case TChange::Enabled: EnableWindow(FWindow, FControl.Enabled()); break;
    case TChange::Bounds: UpdateBounds(); break;
    case TChange::Checked:
      SendMessageW(FWindow, BM_SETCHECK, static_cast<TCheckable&>(FControl).Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case TChange::Items:
      SendMessageW(FWindow, CB_RESETCONTENT, 0, 0);
      for (const std::string& item : static_cast<TComboBox&>(FControl).Items())
        SendMessageW(FWindow, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(item).c_str()));
      break;
    case TChange::Selection:
      SendMessageW(FWindow, CB_SETCURSEL, static_cast<WPARAM>(static_cast<TComboBox&>(FControl).ItemIndex()), 0);
      break;
    case TChange::Progress: {
      auto& bar = static_cast<TProgressBar&>(FControl);
      SendMessageW(FWindow, PBM_SETRANGE32, 0, bar.Max());
      SendMessageW(FWindow, PBM_SETPOS, static_cast<WPARAM>(bar.Position()), 0);
      break;
    }
    case TChange::LogLine: AppendLogLine(static_cast<TRichLog&>(FControl).Lines().size() - 1); break;
    case TChange::Scroll: UpdateScroll(); break;
    case TChange::Focus: SetFocus(FWindow); break;
    case TChange::Dpi:
      if (FControl.Kind() != TKind::Form) break;
      FitFormWindow();
      RescaleTree(static_cast<TContainer&>(FControl));
      RedrawWindow(FWindow, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
      break;
  }
}

void TWindowPeer::Rescale() {
  UpdateBounds();
  ApplyFont();
}

// The form's window keeps its place and takes the size of its client area at
// the new DPI.
void TWindowPeer::FitFormWindow() {
  const TRect& b = FControl.Bounds();
  SIZE size = FrameSize(FWindow, b.Width, b.Height, ControlDpi(FControl));
  SetWindowPos(FWindow, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWindowPeer::ApplyFont() {
  HFONT font = FontFor(FControl.Font(), ControlDpi(FControl));
  SendMessageW(FWindow, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  if (FControl.Kind() != TKind::RichLog) return;
  // The log's font by character set too, so Cyrillic uses Cyrillic glyphs;
  // the rich edit takes points and turns them into pixels by its DC's DPI.
  CHARFORMAT2W format{};
  format.cbSize = sizeof format;
  format.dwMask = CFM_FACE | CFM_SIZE | CFM_CHARSET;
  HDC dc = GetDC(FWindow);
  format.yHeight = MulDiv(ScaleToDpi(FControl.Font().Height, ControlDpi(FControl)), 1440, DeviceDpi(dc));
  ReleaseDC(FWindow, dc);
  format.bCharSet = FControl.Font().Cyrillic ? RUSSIAN_CHARSET : DEFAULT_CHARSET;
  lstrcpynW(format.szFaceName, FaceOf(font).c_str(), LF_FACESIZE);
  SendMessageW(FWindow, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&format));
}

void TWindowPeer::UpdateText() {
  // A drop-down shows its selection; the user's typing is already there.
  if (FControl.Kind() == TKind::Combo || WindowText(FWindow) == FControl.Text()) return;
  SetWindowTextW(FWindow, Widen(FControl.Text()).c_str());
  if (FControl.Kind() == TKind::Button) InvalidateRect(FWindow, nullptr, TRUE);
}

void TWindowPeer::UpdateBounds() {
  if (FControl.Kind() == TKind::Form) return;  // fixed size, placed at Show
  TRect b = FControl.Bounds();
  if (FControl.Kind() == TKind::Combo) b.Height += kComboListHeight;
  RECT r = ScaledRect(b, ControlDpi(FControl));
  MoveWindow(FWindow, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
  if (FControl.Kind() == TKind::ScrollBox) UpdateScroll();
}

void TWindowPeer::UpdateScroll() {
  auto& box = static_cast<TContainer&>(FControl);
  SCROLLINFO info{sizeof info, SIF_RANGE | SIF_PAGE | SIF_POS, 0, std::max(0, box.ContentHeight() - 1),
                  static_cast<UINT>(box.Bounds().Height), box.ScrollOffset(), 0};
  bool needed = box.ContentHeight() > box.Bounds().Height;
  ShowScrollBar(FWindow, SB_VERT, needed);
  if (needed) SetScrollInfo(FWindow, SB_VERT, &info, TRUE);
  InvalidateRect(FWindow, nullptr, TRUE);
}

void TWindowPeer::AppendLogLine(size_t index) {
  const auto& line = static_cast<TRichLog&>(FControl).Lines()[index];
  CHARRANGE end{-1, -1};
  SendMessageW(FWindow, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
  CHARFORMAT2W format{};
  format.cbSize = sizeof format;
  format.dwMask = CFM_COLOR;
  format.crTextColor = line.Color;
  SendMessageW(FWindow, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
  std::wstring text = Widen((index == 0 ? "" : "\r\n") + line.Text);
  SendMessageW(FWindow, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  SendMessageW(FWindow, WM_VSCROLL, SB_BOTTOM, 0);
}

void HandleCommand(HWND child, WORD code) {
  TControl* control = ControlOf(child);
  if (!control) return;
  switch (control->Kind()) {
    case TKind::Button:
    case TKind::Radio:
    case TKind::Check:
      if (code == BN_CLICKED) control->Click();
      break;
    case TKind::Edit:
      if (code == EN_CHANGE) control->SetText(WindowText(child));
      break;
    case TKind::Combo: {
      auto& combo = static_cast<TComboBox&>(*control);
      if (code == CBN_SELCHANGE) combo.SetItemIndex(static_cast<int>(SendMessageW(child, CB_GETCURSEL, 0, 0)));
      if (code == CBN_EDITCHANGE) combo.TypeText(WindowText(child));
      break;
    }
    default: break;
  }
}

void Scroll(HWND window, TContainer& box, int code, int delta) {
  int line = 20, page = box.Bounds().Height, offset = box.ScrollOffset();
  switch (code) {
    case SB_LINEUP: offset -= line; break;
    case SB_LINEDOWN: offset += line; break;
    case SB_PAGEUP: offset -= page; break;
    case SB_PAGEDOWN: offset += page; break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
      SCROLLINFO info{};
      info.cbSize = sizeof info;
      info.fMask = SIF_TRACKPOS;
      GetScrollInfo(window, SB_VERT, &info);
      offset = info.nTrackPos;
      break;
    }
    default: offset -= delta; break;
  }
  box.ScrollTo(offset);
}

void Paint(HWND window, TControl& control) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT client;
  GetClientRect(window, &client);
  FillRect(dc, &client, BrushFor(control.Color()));
  if (auto* container = dynamic_cast<TContainer*>(&control)) PaintWindowless(dc, *container);
  EndPaint(window, &paint);
}

// A dialog's habit: the focus leaves with the window's activation and comes
// back to the same control (not to the form) when it is activated again.
void RestoreFocus(HWND window, TForm& form, bool active) {
  if (!active) {
    form.NoteFocus(FocusedControl(window));
    return;
  }
  if (TControl* focused = form.Focused()) SetFocus(WindowOf(*focused));
}

// The window moved to a screen of another DPI: everything is scaled again,
// and the window goes where Windows suggests.
void MoveToSuggested(HWND window, TForm& form, int dpi, const RECT& suggested) {
  form.SetDpi(dpi);
  SetWindowPos(window, nullptr, suggested.left, suggested.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK ContainerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  TControl* control = ControlOf(window);
  if (!control) return DefWindowProcW(window, message, wparam, lparam);
  switch (message) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: Paint(window, *control); return 0;
    case WM_COMMAND:
      if (lparam) HandleCommand(reinterpret_cast<HWND>(lparam), HIWORD(wparam));
      return 0;
    case WM_DRAWITEM: {
      auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lparam);
      TControl* button = ControlOf(item->hwndItem);
      if (button && button->Kind() == TKind::Button) DrawFlatButton(*item, static_cast<TButton&>(*button));
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      TControl* child = ControlOf(reinterpret_cast<HWND>(lparam));
      TColor color = child ? child->Color() : control->Color();
      SetBkColor(reinterpret_cast<HDC>(wparam), color);
      return reinterpret_cast<LRESULT>(BrushFor(color));
    }
    case WM_VSCROLL:
      Scroll(window, static_cast<TContainer&>(*control), LOWORD(wparam), 0);
      return 0;
    case WM_MOUSEWHEEL:
      if (control->Kind() != TKind::ScrollBox) break;
      Scroll(window, static_cast<TContainer&>(*control), -1, GET_WHEEL_DELTA_WPARAM(wparam) / 3);
      return 0;
    case WM_ACTIVATE:
      if (control->Kind() != TKind::Form) break;
      RestoreFocus(window, static_cast<TForm&>(*control), LOWORD(wparam) != WA_INACTIVE);
      if (LOWORD(wparam) != WA_INACTIVE && static_cast<TForm&>(*control).Focused()) return 0;
      break;
    case kWmDpiChanged:
      if (control->Kind() != TKind::Form) break;
      MoveToSuggested(window, static_cast<TForm&>(*control), LOWORD(wparam), *reinterpret_cast<RECT*>(lparam));
      return 0;
    case WM_CLOSE:
      if (control->Kind() != TKind::Form) break;
      static_cast<TForm&>(*control).Close();
      return 0;
    case WM_DESTROY:
      if (control->Kind() == TKind::Form) PostQuitMessage(0);
      break;
    case kWakeMessage:
      if (control->Kind() == TKind::Form && static_cast<TForm&>(*control).OnWake) static_cast<TForm&>(*control).OnWake();
      return 0;
    default: break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void RegisterClasses() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  // comctl32 and msftedit are no Known DLLs: loaded from the system folder
  // only (the manifest still redirects comctl32 to its version 6), and only
  // when a window is shown, never by the loader before main().
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  if (auto init = platform::win32::SystemFunction<decltype(&InitCommonControlsEx)>(L"comctl32.dll", "InitCommonControlsEx"))
    init(&controls);
  (void)platform::win32::SystemLibrary(L"msftedit.dll");
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = ContainerProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.lpszClassName = kContainerClass;
  RegisterClassExW(&window_class);
  window_class.lpszClassName = kFormClass;
  window_class.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  RegisterClassExW(&window_class);
}

struct TNativeKind {
  const wchar_t* Class;
  DWORD Style;
};

TNativeKind NativeKind(const TControl& control) {
  switch (control.Kind()) {
    case TKind::Form: return {kFormClass, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN};
    case TKind::Button: return {L"BUTTON", BS_OWNERDRAW};
    case TKind::Edit: return {L"EDIT", WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP};
    case TKind::Radio: return {L"BUTTON", BS_RADIOBUTTON | BS_MULTILINE | WS_TABSTOP};
    case TKind::Check: return {L"BUTTON", BS_CHECKBOX | BS_MULTILINE | WS_TABSTOP};
    case TKind::Combo: return {L"COMBOBOX", CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP};
    case TKind::RichLog:
      return {MSFTEDIT_CLASS, ES_MULTILINE | ES_READONLY | WS_VSCROLL | ES_AUTOVSCROLL | ES_NOHIDESEL};
    case TKind::Progress: return {PROGRESS_CLASSW, PBS_SMOOTH};
    case TKind::ScrollBox: return {kContainerClass, WS_CLIPCHILDREN};
    default: return {kContainerClass, WS_CLIPCHILDREN};
  }
}

// Buttons carry their caption as window text (owner-drawn or not), so
// assistive tools read it.
HWND CreateNative(TControl& control, HWND parent) {
  TNativeKind kind = NativeKind(control);
  TRect b = control.Bounds();
  if (control.Kind() == TKind::Combo) b.Height += kComboListHeight;
  RECT r = ScaledRect(b, ControlDpi(control));
  DWORD style = kind.Style | (parent ? WS_CHILD : 0) | (control.Visible() && parent ? WS_VISIBLE : 0);
  HWND window = CreateWindowExW(0, kind.Class, Widen(control.Text()).c_str(), style, r.left, r.top, r.right - r.left,
                                r.bottom - r.top, parent, nullptr, GetModuleHandleW(nullptr), &control);
  if (!window) return nullptr;
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&control));
  if (control.Kind() == TKind::RichLog) SendMessageW(window, EM_EXLIMITTEXT, 0, kLogTextLimit);
  if (!control.Enabled()) EnableWindow(window, FALSE);
  return window;
}

void TWindowPeer::MirrorInitial() {
  ApplyFont();
  switch (FControl.Kind()) {
    case TKind::Radio:
    case TKind::Check: Update(TChange::Checked); break;
    case TKind::Combo:
      Update(TChange::Items);
      Update(TChange::Selection);
      break;
    case TKind::Progress: Update(TChange::Progress); break;
    case TKind::ScrollBox: Update(TChange::Scroll); break;
    case TKind::RichLog:
      for (size_t i = 0; i < static_cast<TRichLog&>(FControl).Lines().size(); ++i) AppendLogLine(i);
      break;
    default: break;
  }
}

}  // namespace

void RescaleTree(TContainer& container) {
  for (const auto& child : container.Children()) {
    if (auto* peer = dynamic_cast<TWindowPeer*>(child->Peer())) peer->Rescale();
    if (auto* inner = dynamic_cast<TContainer*>(child.get())) RescaleTree(*inner);
  }
}

TControl* FocusedControl(HWND form_window) {
  for (HWND window = GetFocus(); window && window != form_window; window = GetParent(window))
    if (IsChild(form_window, window))
      if (TControl* control = ControlOf(window)) return control;
  return nullptr;
}

HWND WindowOf(const TControl& control) {
  for (const TControl* c = &control; c; c = c->Parent())
    if (auto* peer = dynamic_cast<TWindowPeer*>(c->Peer())) return peer->Window();
  return nullptr;
}

void CreatePeers(TControl& control, HWND parent) {
  RegisterClasses();
  if (control.Kind() == TKind::Label || control.Kind() == TKind::Image) {
    control.SetPeer(std::make_unique<TWindowlessPeer>(control));
    return;
  }
  HWND window = CreateNative(control, parent);
  if (!window) return;
  auto peer = std::make_unique<TWindowPeer>(control, window);
  peer->MirrorInitial();
  control.SetPeer(std::move(peer));
  if (control.Kind() == TKind::Form) {
    auto& form = static_cast<TForm&>(control);
    form.SetHandle(window);
    // Before the children exist, so they are made at the window's DPI.
    form.SetDpi(WindowDpi(window));
  }
  if (auto* container = dynamic_cast<TContainer*>(&control))
    for (const auto& child : container->Children()) CreatePeers(*child, window);
}

}  // namespace volok::platform::ui::win32
