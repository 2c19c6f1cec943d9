// The window's controls: sizes, docking, fonts, colours and texts.
#include "wizard/installer_form.h"
#include "wizard/pictures.h"

namespace volok {

namespace {

using ui::TDock;

constexpr ui::TColor kBarGrey = ui::Rgb(238, 238, 238);
const ui::TFont kLargeFont{"Tahoma", 19};
const ui::TFont kMediumFont{"Tahoma", 13};
const std::string kQuote = "\"";

ui::TLabel& StackLabel(ui::TContainer& page, const std::string& name, const std::string& text, int height,
                       const ui::TFont& font = ui::TFont{}) {
  auto& label = page.Make<ui::TLabel>(name, text);
  label.SetDock(TDock::Top);
  label.SetSize(360, height);
  label.SetFont(font);
  return label;
}

ui::TButton& FlatButton(ui::TContainer& parent, const std::string& name, const std::string& text, ui::TRect bounds,
                        ui::TDrawing picture) {
  auto& button = parent.Make<ui::TButton>(name, text);
  button.SetBounds(bounds);
  button.SetPicture(std::move(picture));
  return button;
}

ui::TPanel& PagePanel(ui::TPanel& page, const std::string& name) {
  auto& panel = page.Make<ui::TPanel>(name);
  panel.SetDock(TDock::Fill);
  panel.SetBorderWidth(4);
  return panel;
}

}  // namespace

void TfmInstaller::CreateComponents() {
  FForm = std::make_unique<ui::TForm>("fmInstaller", 522, 353);
  FForm->SetText(kApplicationTitle);
  FForm->SetColor(ui::kWhite);
  FForm->SetLayoutSuspended(true);
  CreateTitle();
  CreateBottom();
  FForm->Make<ui::TImage>("imLogo", BannerPicture()).SetDock(TDock::Left);
  FForm->FindDescendant("imLogo")->SetSize(150, 250);
  auto& separator = FForm->Make<ui::TPanel>("pnSep");
  separator.SetDock(TDock::Left);
  separator.SetSize(4, 250);
  CreatePages();
  FForm->SetLayoutSuspended(false);
  FForm->Layout();
}

void TfmInstaller::CreateTitle() {
  auto& title = FForm->Make<ui::TPanel>("pnTitle");
  title.SetDock(TDock::Top);
  title.SetSize(522, 57);
  title.SetColor(kBarGrey);
  title.SetBorderWidth(4);
  lbName = &title.Make<ui::TLabel>("lbName", "{Name}");
  lbName->SetBounds({12, 8, 500, 23});
  lbName->SetFont(kLargeFont);
  lbVersion = &title.Make<ui::TLabel>("lbVersion", "Версия {Version}");
  lbVersion->SetBounds({12, 32, 500, 16});
  lbVersion->SetFont(kMediumFont);
}

void TfmInstaller::CreateBottom() {
  auto& bottom = FForm->Make<ui::TPanel>("pnBottom");
  bottom.SetDock(TDock::Bottom);
  bottom.SetSize(522, 46);
  bottom.SetColor(kBarGrey);
  btCreate = &FlatButton(bottom, "btCreate", "Создать", {4, 4, 97, 37}, BlueGearPicture());
  btCreate->SetVisible(false);
  auto& right = bottom.Make<ui::TPanel>("pnRight");
  right.SetDock(TDock::Right);
  right.SetSize(190, 46);
  btNext = &FlatButton(right, "btNext", "Далее", {4, 4, 89, 37}, RunningFigurePicture());
  btCancel = &FlatButton(right, "btCancel", "Выход", {96, 4, 89, 37}, PowerSymbolPicture());
}

void TfmInstaller::CreatePages() {
  nbPages = &FForm->Make<ui::TPageSet>("nbPages");
  nbPages->SetDock(TDock::Fill);
  CreateIntroPage(true);
  CreateIntroPage(false);
  CreateQueryPage();
  CreateLogPage();
}

void TfmInstaller::CreateIntroPage(bool install) {
  const std::string kind = install ? "I" : "U";
  auto& panel = PagePanel(nbPages->AddPage(install ? "IntroI" : "IntroU"), "pnIntro" + kind);
  const std::string prefix = "lbIntro" + kind;
  StackLabel(panel, prefix + "1", install ? "Добро пожаловать в мастер установки" : "Добро пожаловать в мастер удаления",
             23, kLargeFont);
  auto& name1 = StackLabel(panel, prefix + "Name1", kQuote + "{Name}" + kQuote + (install ? "\r\n" : ""), 46, kLargeFont);
  StackLabel(panel, prefix + "3", "", 13);
  std::string verb = install ? "установить" : "удалить";
  std::string where = install ? " на ваш компьютер." : " с вашего компьютера.";
  auto& name2 = StackLabel(panel, prefix + "Name2",
                           "Этот мастер поможет Вам " + verb + " программу " + kQuote + "{Name}" + kQuote + " {Version}" + where, 39);
  StackLabel(panel, prefix + "5", "", 13);
  StackLabel(panel, prefix + "6", "Рекомендуется закрыть все прочие приложения перед тем, как продолжить.", 26);
  StackLabel(panel, prefix + "7", "", 13);
  std::string process = install ? "установки" : "удаления";
  StackLabel(panel, prefix + "8",
             "Нажмите " + kQuote + "Далее" + kQuote + " для продолжения " + process + " или " + kQuote + "Выход" + kQuote +
                 " для выхода из мастера " + process + ".",
             26);
  panel.Make<ui::TImage>("imIntro" + kind, install ? GreyGearPicture() : WasteBinPicture())
      .SetBounds({234, 116, 128, 128});
  (install ? lbIntroIName1 : lbIntroUName1) = &name1;
  (install ? lbIntroIName2 : lbIntroUName2) = &name2;
}

void TfmInstaller::CreateQueryPage() {
  auto& panel = PagePanel(nbPages->AddPage("Query"), "pnQuery");
  StackLabel(panel, "lbSelectFolder", "Папка установки", 23, kLargeFont);
  auto& folder = panel.Make<ui::TPanel>("pnFolder");
  folder.SetDock(TDock::Top);
  folder.SetSize(360, 30);
  edPath = &folder.Make<ui::TEdit>("edPath");
  edPath->SetBounds({4, 4, 325, 21});
  btSelectFolder = &folder.Make<ui::TButton>("btSelectFolder", "...");
  btSelectFolder->SetBounds({332, 4, 23, 21});
  StackLabel(panel, "lbParams", "Параметры установки", 23, kLargeFont);
  sbParams = &panel.Make<ui::TPanel>("sbParams", ui::TKind::ScrollBox);
  sbParams->SetDock(TDock::Left);
  sbParams->SetSize(221, 166);
  panel.Make<ui::TImage>("imFolder", FolderArrowPicture()).SetBounds({234, 116, 128, 128});
}

void TfmInstaller::CreateLogPage() {
  auto& panel = PagePanel(nbPages->AddPage("Log"), "pnLog");
  auto& caption = StackLabel(panel, "lbLog", "Ход установки:", 16, kMediumFont);
  caption.SetAutoHeight(true);
  pbProgress = &panel.Make<ui::TProgressBar>("pbProgress");
  pbProgress->SetDock(TDock::Bottom);
  pbProgress->SetSize(360, 16);
  pbProgress->SetTopGap(3);
  pbProgress->SetVisible(false);
  reLog = &panel.Make<ui::TRichLog>("reLog");
  reLog->SetDock(TDock::Fill);
  reLog->SetFont({"Courier New", 11, true, true});
}

}  // namespace volok
