// The docking layout: each container hands its client area to its docked
// children, edge by edge (top, bottom, left, right, then fill), each edge in
// the order the children were added. Invisible children take no space.
#include <algorithm>

#include "platform/ui/controls.h"
#include "platform/ui/layout.h"
#include "platform/ui/toolkit.h"

namespace volok::platform::ui {

namespace {

constexpr int kCheckHeight = 17;
constexpr int kComboHeight = 21;

int NaturalHeight(const TControl& control, int width);

int StackHeight(const TContainer& container, int width) {
  int height = 0;
  for (const auto& child : container.Children())
    if (child->Visible() && child->Dock() == TDock::Top) height += child->TopGap() + NaturalHeight(*child, width);
  return height;
}

int NaturalHeight(const TControl& control, int width) {
  if (!control.AutoHeight()) return control.Bounds().Height;
  auto& toolkit = TToolkit::Default();
  TForm* form = control.Form();
  int dpi = form ? form->Dpi() : kDesignDpi;
  switch (control.Kind()) {
    case TKind::Label: return toolkit.TextHeight(control.Font(), control.Text(), width, dpi);
    case TKind::Radio:
    case TKind::Check:
      return std::max(kCheckHeight, toolkit.TextHeight(control.Font(), control.Text(), width - kCheckHeight - 4, dpi));
    case TKind::Combo: return kComboHeight;
    default: break;
  }
  if (auto* container = dynamic_cast<const TContainer*>(&control)) {
    int border = container->BorderWidth();
    return 2 * border + StackHeight(*container, width - 2 * border);
  }
  return control.Bounds().Height;
}

// The client area a scroll box gives its children: narrower by the scroll
// bar when the content does not fit.
int ScrollBoxWidth(TContainer& box) {
  int width = box.Bounds().Width;
  int content = StackHeight(box, width);
  if (content > box.Bounds().Height) {
    width -= kScrollBarWidth;
    content = StackHeight(box, width);
  }
  box.SetContentHeight(content);
  if (box.ScrollOffset() > std::max(0, content - box.Bounds().Height)) box.ScrollTo(0);
  return width;
}

void PlaceEdge(TContainer& container, TDock dock, TRect& area) {
  int shift = container.Kind() == TKind::ScrollBox ? container.ScrollOffset() : 0;
  for (const auto& child : container.Children()) {
    // A hidden filling control (a page not shown) still gets its place, so
    // its content is ready when it appears.
    if (child->Dock() != dock || (!child->Visible() && dock != TDock::Fill)) continue;
    int gap = child->TopGap();
    int height = NaturalHeight(*child, area.Width);
    int width = child->Bounds().Width;
    switch (dock) {
      case TDock::Top:
        child->SetBounds({area.Left, area.Top + gap - shift, area.Width, height});
        area.Top += gap + height;
        area.Height -= gap + height;
        break;
      case TDock::Bottom:
        child->SetBounds({area.Left, area.Top + area.Height - height, area.Width, height});
        area.Height -= gap + height;
        break;
      case TDock::Left:
        child->SetBounds({area.Left, area.Top, width, area.Height});
        area.Left += width;
        area.Width -= width;
        break;
      case TDock::Right:
        child->SetBounds({area.Left + area.Width - width, area.Top, width, area.Height});
        area.Width -= width;
        break;
      case TDock::Fill: child->SetBounds(area); break;
      case TDock::None: break;
    }
    area.Width = std::max(0, area.Width);
    area.Height = std::max(0, area.Height);
  }
}

}  // namespace

void LayoutContainer(TContainer& container) {
  int border = container.BorderWidth();
  int width = container.Kind() == TKind::ScrollBox ? ScrollBoxWidth(container) : container.Bounds().Width;
  TRect area{border, border, std::max(0, width - 2 * border), std::max(0, container.Bounds().Height - 2 * border)};
  if (container.Kind() == TKind::ScrollBox) area.Height = container.ContentHeight();
  for (TDock dock : {TDock::Top, TDock::Bottom, TDock::Left, TDock::Right, TDock::Fill}) PlaceEdge(container, dock, area);
  for (const auto& child : container.Children())
    if (auto* inner = dynamic_cast<TContainer*>(child.get())) LayoutContainer(*inner);
}

void TForm::Layout() {
  if (!FLayoutSuspended) LayoutContainer(*this);
}

}  // namespace volok::platform::ui
