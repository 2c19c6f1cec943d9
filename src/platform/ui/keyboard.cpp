// Keyboard use of a form, kept in the portable objects so it behaves the same
// on every toolkit: Tab order in visual order, radio groups as one stop moved
// through with the arrows, Space on the focused control, Enter for the
// default button and Escape for the cancel button.
#include <algorithm>

#include "platform/ui/controls.h"

namespace volok::platform::ui {

namespace {

// Siblings only: their places share one origin. Controls whose heights
// overlap stand in one row and go by their left edges (a button bar's
// buttons and the panel beside them need not share a top).
bool VisuallyBefore(const TControl* a, const TControl* b) {
  const TRect &ra = a->Bounds(), &rb = b->Bounds();
  bool one_row = ra.Top < rb.Top + rb.Height && rb.Top < ra.Top + ra.Height;
  return one_row ? ra.Left < rb.Left : ra.Top < rb.Top;
}

// Insertion by that rule: it is not a strict weak order for every layout, so
// no library sort may be handed it; the lists are short.
std::vector<TControl*> InVisualOrder(std::vector<TControl*> controls) {
  std::vector<TControl*> ordered;
  for (TControl* control : controls) {
    auto at = std::find_if(ordered.begin(), ordered.end(), [&](TControl* placed) { return VisuallyBefore(control, placed); });
    ordered.insert(at, control);
  }
  return ordered;
}

// Container by container, each one's children top to bottom, left to right:
// a scroll box's content stays together however far it reaches down, and the
// button bar at the bottom comes after the pages.
void CollectFocusable(const TContainer& container, std::vector<TControl*>& found) {
  std::vector<TControl*> children;
  for (const auto& child : container.Children()) children.push_back(child.get());
  for (TControl* child : InVisualOrder(children)) {
    if (child->CanFocus()) found.push_back(child);
    if (auto* inner = dynamic_cast<const TContainer*>(child)) CollectFocusable(*inner, found);
  }
}

// The radio button that stands for its group in the Tab order.
bool IsGroupStop(const TControl& radio, const std::vector<TControl*>& focusable) {
  const TControl* first = nullptr;
  for (TControl* other : focusable) {
    if (other->Kind() != TKind::Radio || other->Parent() != radio.Parent()) continue;
    if (static_cast<TCheckable*>(other)->Checked()) return other == &radio;
    if (!first) first = other;
  }
  return first == &radio;
}

bool Inside(const TControl& control, const TContainer& area) {
  for (const TControl* c = control.Parent(); c; c = c->Parent())
    if (c == &area) return true;
  return false;
}

}  // namespace

bool TControl::TabStop() const {
  switch (FKind) {
    case TKind::Button:
    case TKind::Edit:
    case TKind::Radio:
    case TKind::Check:
    case TKind::Combo: return true;
    default: return false;
  }
}

TRect TControl::FormBounds() const {
  TRect bounds = FBounds;
  for (const TContainer* parent = FParent; parent && parent->FParent; parent = parent->FParent) {
    bounds.Left += parent->FBounds.Left;
    bounds.Top += parent->FBounds.Top;
    if (parent->FKind == TKind::ScrollBox) bounds.Top += parent->ScrollOffset();
  }
  return bounds;
}

TControl* TForm::Focused() const { return FFocused && FFocused->CanFocus() ? FFocused : nullptr; }

void TForm::SetFocus(TControl* control) {
  if (!control || !control->CanFocus() || control->Form() != this) return;
  FFocused = control;
  ScrollIntoView(*control);
  control->Changed(TChange::Focus);
}

bool TForm::FocusFirstIn(const TContainer& area) {
  for (TControl* control : TabOrder())
    if (Inside(*control, area)) {
      SetFocus(control);
      return true;
    }
  return false;
}

void TForm::EnsureFocus() {
  if (Focused()) return;
  TControl* target = DefaultButton();
  if (!target && FCancelButton && FCancelButton->CanFocus()) target = FCancelButton;
  if (!target) {
    auto order = TabOrder();
    if (!order.empty()) target = order.front();
  }
  SetFocus(target);
}

std::vector<TControl*> TForm::TabOrder() const {
  std::vector<TControl*> focusable;
  CollectFocusable(*this, focusable);
  std::vector<TControl*> order;
  for (TControl* control : focusable)
    if (control->Kind() != TKind::Radio || IsGroupStop(*control, focusable)) order.push_back(control);
  return order;
}

TControl* TForm::DefaultButton() const {
  for (TControl* candidate : FDefaultButtons)
    if (candidate && candidate->Showing()) return candidate->Enabled() ? candidate : nullptr;
  return nullptr;
}

bool TForm::KeyDown(TKey key, bool shift) {
  TControl* focused = Focused();
  bool on_button = focused && focused->Kind() == TKind::Button;
  bool on_option = focused && (focused->Kind() == TKind::Radio || focused->Kind() == TKind::Check);
  switch (key) {
    case TKey::Tab: MoveFocus(shift); return true;
    case TKey::Enter: {
      TControl* target = on_button ? focused : DefaultButton();
      if (target) target->Click();
      return true;
    }
    case TKey::Escape:
      if (FCancelButton) FCancelButton->Click();
      return true;
    case TKey::Space:
      if (!on_button && !on_option) return false;
      focused->Click();
      return true;
    case TKey::Left:
    case TKey::Up:
    case TKey::Right:
    case TKey::Down:
      if (!focused || focused->Kind() != TKind::Radio) return false;
      MoveInRadioGroup(key == TKey::Left || key == TKey::Up);
      return true;
  }
  return false;
}

void TForm::MoveFocus(bool backward) {
  auto order = TabOrder();
  if (order.empty()) return;
  TControl* focused = Focused();
  auto at = std::find(order.begin(), order.end(), focused);
  if (at == order.end() && focused && focused->Kind() == TKind::Radio) {
    // A radio button that is not its group's stop (focused by a click
    // before any was checked): go on from its group's stop.
    at = std::find_if(order.begin(), order.end(), [&](TControl* c) { return c->Parent() == focused->Parent() && c->Kind() == TKind::Radio; });
  }
  size_t count = order.size(), index;
  if (at == order.end())
    index = backward ? count - 1 : 0;
  else
    index = (static_cast<size_t>(at - order.begin()) + (backward ? count - 1 : 1)) % count;
  SetFocus(order[index]);
}

void TForm::MoveInRadioGroup(bool backward) {
  TControl* focused = Focused();
  std::vector<TControl*> radios;
  for (const auto& sibling : focused->Parent()->Children())
    if (sibling->Kind() == TKind::Radio && sibling->CanFocus()) radios.push_back(sibling.get());
  std::vector<TControl*> group = InVisualOrder(radios);
  auto at = std::find(group.begin(), group.end(), focused);
  size_t count = group.size();
  size_t index = (static_cast<size_t>(at - group.begin()) + (backward ? count - 1 : 1)) % count;
  // As with the system's radio buttons, the arrows choose as they move.
  SetFocus(group[index]);
  group[index]->Click();
}

void TForm::ScrollIntoView(const TControl& control) {
  for (TContainer* box = control.Parent(); box; box = box->Parent()) {
    if (box->Kind() != TKind::ScrollBox) continue;
    // Offsets within the box's content, whatever it is scrolled to now.
    TRect inner = control.FormBounds(), outer = box->FormBounds();
    int top = inner.Top - outer.Top, bottom = top + inner.Height;
    if (top < box->ScrollOffset())
      box->ScrollTo(top);
    else if (bottom > box->ScrollOffset() + box->Bounds().Height)
      box->ScrollTo(bottom - box->Bounds().Height);
  }
}

void TForm::SetDpi(int dpi) {
  if (dpi <= 0 || dpi == FDpi) return;
  FDpi = dpi;
  // Text is measured at the new size, so wrapped heights may change.
  Layout();
  Changed(TChange::Dpi);
}

}  // namespace volok::platform::ui
