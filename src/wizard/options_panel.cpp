// The options panel on the Query page: groups as captioned panels, radio
// buttons, check boxes and drop-down lists built from the description, read
// back when the install starts.
#include "common/text.h"
#include "wizard/combo_values.h"
#include "wizard/installer_form.h"

namespace volok {

namespace {

bool IsKind(const TInstallOption& option, const char* kind) { return SameText(option.Type_(), kind); }

}  // namespace

ui::TControl* TfmInstaller::FindParamControl(const std::string& name) const {
  auto found = FParamControls.find(LowerCase(name));
  return found == FParamControls.end() ? nullptr : found->second;
}

void TfmInstaller::BuildOptionsPanel() {
  auto& description = FIThread->InstallParameters();
  if (description.InstallOptions().empty()) return;
  FForm->SetLayoutSuspended(true);
  for (const auto& group : description.InstallGroups())
    if (group) AddGroupPanel(*group);
  for (const auto& option : description.InstallOptions()) {
    if (!option) continue;
    bool checked = description.Options().IndexOf(option->Name()) >= 0;
    if (IsKind(*option, "radio"))
      AddRadioOption(*option, checked);
    else if (IsKind(*option, "check"))
      AddCheckOption(*option, checked);
    else if (IsKind(*option, "combo"))
      AddComboOption(*option, option->Values());
  }
  FForm->SetLayoutSuspended(false);
  FForm->Layout();
}

// Names are registered once: a second group or option of the same name
// (ignoring case) keeps the first one's control for lookups.
void TfmInstaller::AddParamControl(ui::TContainer& container, std::unique_ptr<ui::TControl> control) {
  control->SetDock(ui::TDock::Top);
  control->SetAutoHeight(true);
  FParamControls.emplace(LowerCase(control->Name()), control.get());
  container.Add(std::move(control));
}

void TfmInstaller::AddGroupPanel(const TInstallGroup& group) {
  auto panel = std::make_unique<ui::TPanel>("pnParams" + group.Name());
  panel->SetBorderWidth(4);
  auto& label = panel->Make<ui::TLabel>("lbParams" + group.Name(), group.DisplayName());
  label.SetDock(ui::TDock::Top);
  label.SetAutoHeight(true);
  // Two points larger than the window's 8 pt Tahoma.
  label.SetFont({"Tahoma", 13});
  AddParamControl(*sbParams, std::move(panel));
}

ui::TContainer& TfmInstaller::FindGroupPanel(const std::string& group_name) {
  if (group_name.empty()) return *sbParams;
  auto* control = FindParamControl("pnParams" + group_name);
  auto* panel = dynamic_cast<ui::TPanel*>(control);
  if (panel && panel->Parent() == sbParams) return *panel;
  return *sbParams;
}

void TfmInstaller::AddRadioOption(const TInstallOption& option, bool checked) {
  auto radio = std::make_unique<ui::TCheckable>(ui::TKind::Radio, "btParams" + option.Name(), option.DisplayName());
  radio->SetChecked(checked);
  AddParamControl(FindGroupPanel(option.Group()), std::move(radio));
}

void TfmInstaller::AddCheckOption(const TInstallOption& option, bool checked) {
  auto check = std::make_unique<ui::TCheckable>(ui::TKind::Check, "btParams" + option.Name(), option.DisplayName());
  check->SetChecked(checked);
  AddParamControl(FindGroupPanel(option.Group()), std::move(check));
}

void TfmInstaller::AddComboOption(const TInstallOption& option, const std::string& values) {
  auto combo = std::make_unique<ui::TComboBox>("btParams" + option.Name());
  combo->SetItems(SplitComboValues(values));
  combo->SetItemIndex(combo->Items().empty() ? -1 : 0);
  AddParamControl(FindGroupPanel(option.Group()), std::move(combo));
}

std::string TfmInstaller::ReadOptionsPanel() {
  std::string selected;
  for (const auto& option : FIThread->InstallParameters().InstallOptions()) {
    if (!option) continue;
    const std::string& name = option->Name();
    ui::TControl* control = FindParamControl("btParams" + name);
    bool chosen = false;
    if (IsKind(*option, "radio") || IsKind(*option, "check")) {
      ui::TKind kind = IsKind(*option, "radio") ? ui::TKind::Radio : ui::TKind::Check;
      chosen = control && control->Kind() == kind && static_cast<ui::TCheckable*>(control)->Checked();
    } else if (IsKind(*option, "combo") && control && control->Kind() == ui::TKind::Combo) {
      auto* combo = static_cast<ui::TComboBox*>(control);
      int index = combo->ItemIndex();
      FIThread->Vars().Add(name, index >= 0 ? combo->Items()[index] : std::string());
    }
    if (!chosen) continue;
    if (!selected.empty()) selected += ",";
    selected += name;
  }
  return selected;
}

}  // namespace volok
