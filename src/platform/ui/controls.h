// The toolkit's controls as portable objects. A control keeps its whole
// state here; a native implementation attaches a peer that mirrors the state
// on screen and reports the user's actions back through the same methods a
// test calls (Click, SetText, Select). So the headless toolkit is these
// objects without peers, and tests read and drive every control directly.
//
// Threads: the main thread only. Ownership: a container owns its children.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/ui_types.h"

namespace volok::platform::ui {

class TContainer;
class TForm;

enum class TKind { Form, Panel, PageSet, ScrollBox, Label, Button, Edit, Radio, Check, Combo, RichLog, Progress, Image };

// What changed, for the peer to mirror.
enum class TChange { Text, Visible, Enabled, Bounds, Checked, Items, Selection, Progress, LogLine, Scroll, Focus, Dpi };

class TPeer {
 public:
  virtual ~TPeer() = default;
  virtual void Update(TChange change) = 0;
  // A child was added after the container got its peer.
  virtual void ChildAdded(class TControl& child) {}
};

class TControl {
 public:
  TControl(TKind kind, std::string name) : FKind(kind), FName(std::move(name)) {}
  virtual ~TControl() = default;
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  TKind Kind() const { return FKind; }
  const std::string& Name() const { return FName; }
  TContainer* Parent() const { return FParent; }
  TForm* Form() const;

  const std::string& Text() const { return FText; }
  void SetText(std::string text);
  bool Visible() const { return FVisible; }
  void SetVisible(bool visible);
  // Visible here and in every container up to the form.
  bool Showing() const;
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool enabled);

  TDock Dock() const { return FDock; }
  void SetDock(TDock dock) { FDock = dock; }
  // Position within the parent's client area. Docked controls get theirs
  // from the layout; the others keep what is set here.
  const TRect& Bounds() const { return FBounds; }
  void SetBounds(const TRect& bounds);
  void SetSize(int width, int height) { SetBounds({FBounds.Left, FBounds.Top, width, height}); }
  // Space kept free above a docked control.
  int TopGap() const { return FTopGap; }
  void SetTopGap(int gap) { FTopGap = gap; }
  // The height follows the content (labels: the wrapped text).
  bool AutoHeight() const { return FAutoHeight; }
  void SetAutoHeight(bool value) { FAutoHeight = value; }

  const TFont& Font() const { return FFont; }
  void SetFont(TFont font) { FFont = std::move(font); }
  TColor FontColor() const { return FFontColor; }
  void SetFontColor(TColor color) { FFontColor = color; }
  // The background: the control's own colour or its parent's.
  TColor Color() const;
  void SetColor(TColor color) { FColor = color, FParentColor = false; }

  // The user's click (a test's too): buttons run OnClick, check boxes
  // toggle, radio buttons check themselves and clear the others beside them.
  // Ignored unless the control is showing and enabled.
  virtual void Click();
  std::function<void()> OnClick;

  // Takes part in keyboard focus (Tab stops): fields, buttons, options.
  bool TabStop() const;
  // Can take the focus now: a Tab stop that is showing and enabled.
  bool CanFocus() const { return TabStop() && Showing() && FEnabled; }
  // The position within the form's client area, as if no scroll box were
  // scrolled: the order a reader sees the controls in.
  TRect FormBounds() const;

  TPeer* Peer() const { return FPeer.get(); }
  void SetPeer(std::unique_ptr<TPeer> peer) { FPeer = std::move(peer); }

 protected:
  void Changed(TChange change);
  // Something that moves other controls changed: lay the form out again.
  void RelayoutForm();

 private:
  friend class TContainer;
  friend class TForm;
  TKind FKind;
  std::string FName;
  TContainer* FParent = nullptr;
  std::string FText;
  bool FVisible = true;
  bool FEnabled = true;
  TDock FDock = TDock::None;
  TRect FBounds;
  int FTopGap = 0;
  bool FAutoHeight = false;
  TFont FFont;
  TColor FFontColor = kBlack;
  TColor FColor = kWhite;
  bool FParentColor = true;
  std::unique_ptr<TPeer> FPeer;
};

class TContainer : public TControl {
 public:
  using TControl::TControl;

  // Places `child` as the last of the children and gives it back.
  template <class T>
  T& Add(std::unique_ptr<T> child) {
    T& added = *child;
    AddControl(std::move(child));
    return added;
  }
  template <class T, class... Args>
  T& Make(Args&&... args) {
    return Add(std::make_unique<T>(std::forward<Args>(args)...));
  }
  const std::vector<std::unique_ptr<TControl>>& Children() const { return FChildren; }
  // The first control of this name in the tree below (exact match).
  TControl* FindDescendant(const std::string& name) const;

  // Inner space kept free on every side for docked children.
  int BorderWidth() const { return FBorderWidth; }
  void SetBorderWidth(int width) { FBorderWidth = width; }
  // How far the content is scrolled up (scroll boxes).
  int ScrollOffset() const { return FScrollOffset; }
  int ContentHeight() const { return FContentHeight; }
  void SetContentHeight(int height);
  void ScrollTo(int offset);

 private:
  void AddControl(std::unique_ptr<TControl> child);

  std::vector<std::unique_ptr<TControl>> FChildren;
  int FBorderWidth = 0;
  int FScrollOffset = 0;
  int FContentHeight = 0;
};

class TPanel final : public TContainer {
 public:
  explicit TPanel(std::string name, TKind kind = TKind::Panel) : TContainer(kind, std::move(name)) {}
};

// Pages are panels; exactly one of them is visible.
class TPageSet final : public TContainer {
 public:
  explicit TPageSet(std::string name) : TContainer(TKind::PageSet, std::move(name)) {}
  TPanel& AddPage(const std::string& name);
  int PageIndex() const { return FPageIndex; }
  void SetPageIndex(int index);

 private:
  int FPageIndex = -1;
};

class TLabel final : public TControl {
 public:
  explicit TLabel(std::string name, std::string text = {});
};

// A flat button with an optional picture left of its caption.
class TButton final : public TControl {
 public:
  explicit TButton(std::string name, std::string text = {});
  const TDrawing& Picture() const { return FPicture; }
  void SetPicture(TDrawing picture) { FPicture = std::move(picture); }
  int PictureSize() const { return FPictureSize; }
  void SetPictureSize(int size) { FPictureSize = size; }

 private:
  TDrawing FPicture;
  int FPictureSize = 32;
};

class TEdit final : public TControl {
 public:
  explicit TEdit(std::string name) : TControl(TKind::Edit, std::move(name)) {}
};

// A radio button or a check box.
class TCheckable final : public TControl {
 public:
  TCheckable(TKind kind, std::string name, std::string text);
  bool Checked() const { return FChecked; }
  // Sets the state as code does: radio buttons beside it keep theirs.
  void SetChecked(bool checked);
  void Click() override;

 private:
  bool FChecked = false;
};

// A drop-down combo box: an edit field with a list of choices.
class TComboBox final : public TControl {
 public:
  explicit TComboBox(std::string name) : TControl(TKind::Combo, std::move(name)) {}
  const std::vector<std::string>& Items() const { return FItems; }
  void SetItems(std::vector<std::string> items);
  // -1 when no choice is selected.
  int ItemIndex() const { return FItemIndex; }
  void SetItemIndex(int index);
  // Text typed into the edit field: it selects the choice it equals, if any.
  void TypeText(const std::string& text);

 private:
  std::vector<std::string> FItems;
  int FItemIndex = -1;
};

// A read-only view of coloured lines.
class TRichLog final : public TControl {
 public:
  struct TLine {
    std::string Text;
    TColor Color;
  };
  explicit TRichLog(std::string name) : TControl(TKind::RichLog, std::move(name)) {}
  void AppendLine(std::string text, TColor color);
  const std::vector<TLine>& Lines() const { return FLines; }

 private:
  std::vector<TLine> FLines;
};

class TProgressBar final : public TControl {
 public:
  explicit TProgressBar(std::string name) : TControl(TKind::Progress, std::move(name)) {}
  int Max() const { return FMax; }
  int Position() const { return FPosition; }
  // Range 0..max, position 0.
  void Restart(int max);
  void StepIt();

 private:
  int FMax = 100;
  int FPosition = 0;
};

class TImage final : public TControl {
 public:
  TImage(std::string name, TDrawing picture);
  const TDrawing& Picture() const { return FPicture; }

 private:
  TDrawing FPicture;
};

// A fixed-size top-level window. Its Text is the caption.
class TForm final : public TContainer {
 public:
  TForm(std::string name, int client_width, int client_height);

  // A close request (the user's, a button's): asks OnCloseQuery and marks
  // the form closed when allowed; the native loop then ends.
  void Close();
  bool Closed() const { return FClosed; }
  std::function<void(bool& can_close)> OnCloseQuery;
  // Runs on the main thread whenever the toolkit's Wake was called.
  std::function<void()> OnWake;

  // Lays out every docked control of the tree.
  void Layout();
  void SetLayoutSuspended(bool suspended) { FLayoutSuspended = suspended; }
  // Keyboard focus. Focused() is null when nothing has it or the control
  // that had it can no longer take it (hidden, disabled).
  TControl* Focused() const;
  // Moves the focus (and the native window's), bringing a control inside a
  // scroll box into view. Ignored for a control that cannot take it.
  void SetFocus(TControl* control);
  // The native window moved the focus itself (a click): record it only.
  void NoteFocus(TControl* control) { FFocused = control; }
  // Focuses the first control of the Tab order inside `area`; false if none.
  bool FocusFirstIn(const TContainer& area);
  // When nothing can be focused any more: the default button, else the
  // cancel button, else the first Tab stop.
  void EnsureFocus();
  // The controls Tab visits, in visual order: within each container top to
  // bottom, left to right, a container's content where the container is.
  // A radio group is one stop: its checked button, or its first.
  std::vector<TControl*> TabOrder() const;

  // Enter presses the focused button, else the default button: the first
  // candidate that is showing, if it is enabled.
  void SetDefaultButtons(std::vector<TControl*> candidates) { FDefaultButtons = std::move(candidates); }
  TControl* DefaultButton() const;
  // Escape presses the cancel button.
  void SetCancelButton(TControl* button) { FCancelButton = button; }
  // A key pressed anywhere in the form; false when the focused control is
  // to handle it itself (typing, a list's arrows).
  bool KeyDown(TKey key, bool shift);

  // The DPI of the screen the window is on (96 until a native window says).
  int Dpi() const { return FDpi; }
  void SetDpi(int dpi);

  // The native window handle (HWND), for owner windows of dialogs.
  void* Handle() const { return FHandle; }
  void SetHandle(void* handle) { FHandle = handle; }

 private:
  void MoveFocus(bool backward);
  void MoveInRadioGroup(bool backward);
  void ScrollIntoView(const TControl& control);

  bool FClosed = false;
  bool FLayoutSuspended = false;
  TControl* FFocused = nullptr;
  std::vector<TControl*> FDefaultButtons;
  TControl* FCancelButton = nullptr;
  int FDpi = kDesignDpi;
  void* FHandle = nullptr;
};

}  // namespace volok::platform::ui
