#include "platform/ui/controls.h"

#include <algorithm>

namespace volok::platform::ui {

TForm* TControl::Form() const {
  const TControl* control = this;
  while (control->FParent) control = control->FParent;
  return control->FKind == TKind::Form ? static_cast<TForm*>(const_cast<TControl*>(control)) : nullptr;
}

void TControl::SetText(std::string text) {
  if (text == FText) return;
  FText = std::move(text);
  Changed(TChange::Text);
  if (FAutoHeight) RelayoutForm();
}

void TControl::SetVisible(bool visible) {
  if (visible == FVisible) return;
  FVisible = visible;
  Changed(TChange::Visible);
  if (FDock != TDock::None) RelayoutForm();
}

bool TControl::Showing() const {
  for (const TControl* control = this; control; control = control->FParent)
    if (!control->FVisible) return false;
  return true;
}

void TControl::SetEnabled(bool enabled) {
  if (enabled == FEnabled) return;
  FEnabled = enabled;
  Changed(TChange::Enabled);
}

void TControl::SetBounds(const TRect& bounds) {
  if (bounds == FBounds) return;
  FBounds = bounds;
  Changed(TChange::Bounds);
}

TColor TControl::Color() const {
  if (FParentColor && FParent) return FParent->Color();
  return FColor;
}

void TControl::Click() {
  if (Showing() && FEnabled && OnClick) OnClick();
}

void TControl::Changed(TChange change) {
  if (FPeer) FPeer->Update(change);
}

void TControl::RelayoutForm() {
  if (TForm* form = Form()) form->Layout();
}

void TContainer::AddControl(std::unique_ptr<TControl> child) {
  child->FParent = this;
  FChildren.push_back(std::move(child));
  if (Peer()) Peer()->ChildAdded(*FChildren.back());
  RelayoutForm();
}

TControl* TContainer::FindDescendant(const std::string& name) const {
  for (const auto& child : FChildren) {
    if (child->Name() == name) return child.get();
    if (auto* container = dynamic_cast<TContainer*>(child.get()))
      if (TControl* found = container->FindDescendant(name)) return found;
  }
  return nullptr;
}

void TContainer::SetContentHeight(int height) {
  if (height == FContentHeight) return;
  FContentHeight = height;
  Changed(TChange::Scroll);
}

void TContainer::ScrollTo(int offset) {
  int limit = std::max(0, FContentHeight - Bounds().Height);
  offset = std::clamp(offset, 0, limit);
  if (offset == FScrollOffset) return;
  FScrollOffset = offset;
  Changed(TChange::Scroll);
  RelayoutForm();
}

TPanel& TPageSet::AddPage(const std::string& name) {
  auto& page = Make<TPanel>(name);
  page.SetDock(TDock::Fill);
  page.SetVisible(false);
  if (FPageIndex < 0) SetPageIndex(0);
  return page;
}

void TPageSet::SetPageIndex(int index) {
  if (index < 0 || index >= static_cast<int>(Children().size())) return;
  FPageIndex = index;
  for (int i = 0; i < static_cast<int>(Children().size()); ++i) Children()[i]->SetVisible(i == index);
}

TLabel::TLabel(std::string name, std::string text) : TControl(TKind::Label, std::move(name)) {
  SetText(std::move(text));
}

TButton::TButton(std::string name, std::string text) : TControl(TKind::Button, std::move(name)) {
  SetText(std::move(text));
}

TCheckable::TCheckable(TKind kind, std::string name, std::string text) : TControl(kind, std::move(name)) {
  SetText(std::move(text));
}

void TCheckable::SetChecked(bool checked) {
  if (checked == FChecked) return;
  FChecked = checked;
  Changed(TChange::Checked);
}

void TCheckable::Click() {
  if (!Showing() || !Enabled()) return;
  if (Kind() == TKind::Check) {
    SetChecked(!FChecked);
  } else {
    // One choice per container: the radio buttons placed beside this one.
    SetChecked(true);
    for (const auto& sibling : Parent()->Children())
      if (sibling.get() != this && sibling->Kind() == TKind::Radio)
        static_cast<TCheckable&>(*sibling).SetChecked(false);
  }
  if (OnClick) OnClick();
}

void TComboBox::SetItems(std::vector<std::string> items) {
  FItems = std::move(items);
  FItemIndex = -1;
  Changed(TChange::Items);
  SetText({});
}

void TComboBox::SetItemIndex(int index) {
  if (index < -1 || index >= static_cast<int>(FItems.size())) index = -1;
  FItemIndex = index;
  Changed(TChange::Selection);
  SetText(index >= 0 ? FItems[index] : std::string());
}

void TComboBox::TypeText(const std::string& text) {
  auto found = std::find(FItems.begin(), FItems.end(), text);
  FItemIndex = found == FItems.end() ? -1 : static_cast<int>(found - FItems.begin());
  SetText(text);
}

void TRichLog::AppendLine(std::string text, TColor color) {
  FLines.push_back({std::move(text), color});
  Changed(TChange::LogLine);
}

void TProgressBar::Restart(int max) {
  FMax = max;
  FPosition = 0;
  Changed(TChange::Progress);
}

void TProgressBar::StepIt() {
  // A native bar wraps to its minimum past the maximum; so does this one.
  FPosition = FPosition + 1 > FMax ? 0 : FPosition + 1;
  Changed(TChange::Progress);
}

TImage::TImage(std::string name, TDrawing picture) : TControl(TKind::Image, std::move(name)), FPicture(std::move(picture)) {}

TForm::TForm(std::string name, int client_width, int client_height) : TContainer(TKind::Form, std::move(name)) {
  SetBounds({0, 0, client_width, client_height});
}

void TForm::Close() {
  bool can_close = true;
  if (OnCloseQuery) OnCloseQuery(can_close);
  if (!can_close || FClosed) return;
  FClosed = true;
  Changed(TChange::Visible);
}

}  // namespace volok::platform::ui
