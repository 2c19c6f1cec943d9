// The wizard's page flow driven through the headless toolkit: welcome,
// options, log with colours and progress, close question, error page,
// uninstaller, builder button.
#include <thread>

#include "common/file_utils.h"
#include "wizard_fixture.h"

namespace volok {
namespace {

constexpr ui::TColor kGreen = ui::Rgb(0, 128, 0), kRed = ui::Rgb(255, 0, 0), kBlue = ui::Rgb(0, 0, 255);

const std::string kOptions =
    "<Options><Group><Name>Kind</Name><DisplayName>Вид установки</DisplayName></Group>"
    "<Group><Name>Язык</Name><DisplayName>Язык</DisplayName></Group>"
    "<Option><Name>Full</Name><Type>Radio</Type><Group>Kind</Group><DisplayName>Полная</DisplayName></Option>"
    "<Option><Name>Min</Name><Type>radio</Type><Group>kind</Group><DisplayName>Минимальная</DisplayName></Option>"
    "<Option><Name>Desktop</Name><Type>CHECK</Type><DisplayName>Ярлык на рабочем столе</DisplayName></Option>"
    "<Option><Name>Lang</Name><Type>combo</Type><Group>Язык</Group><DisplayName>x</DisplayName>"
    "<Values>ru;en;de</Values></Option>"
    "<Default>Full,Desktop</Default></Options>";

class InstallerFormTest : public WizardTest {
 protected:
  std::string CopyEntry(const std::string& name, const std::string& target, const std::string& options = "") {
    return File(name, "{InstallerPath}\\readme.txt", "Copy2", "{InstallPath}\\" + target,
                options.empty() ? "" : "<Options>" + options + "</Options>");
  }
  void WriteInstaller() {
    testing::WriteNative(FPackage.Native("readme.txt"), "read me");
    WriteDescription(kOptions + "<Install>" + CopyEntry("lang", "readme-{Lang}.txt") +
                         CopyEntry("desktop", "desktop.txt", "Desktop") + CopyEntry("full", "full.txt", "Full") +
                         "</Install>",
                     FTarget.File("Demo") + "\\");
  }
};

TEST_F(InstallerFormTest, InstallThroughOptionsToSuccess) {
  WriteInstaller();
  auto window = Open();
  EXPECT_EQ(window->Form().Text(), std::string("Установка (") + (window->Worker().Win64() ? "x86-64)" : "x86)"));
  EXPECT_EQ(window->nbPages->PageIndex(), 0);
  EXPECT_EQ(window->lbName->Text(), "Demo 1.2.3.4");
  EXPECT_EQ(window->lbVersion->Text(), "Версия 1.2.3.4");
  EXPECT_EQ(window->lbIntroIName1->Text(), "\"Demo 1.2.3.4\"\r\n");
  EXPECT_FALSE(window->btCreate->Visible());
  EXPECT_EQ(window->edPath->Text(), FTarget.File("Demo") + "\\");

  window->btNext->Click();
  ASSERT_EQ(window->nbPages->PageIndex(), 2);
  auto* full = dynamic_cast<ui::TCheckable*>(window->FindParamControl("btParamsFULL"));
  auto* min = dynamic_cast<ui::TCheckable*>(window->FindParamControl("btParamsMin"));
  auto* desktop = dynamic_cast<ui::TCheckable*>(window->FindParamControl("btParamsDesktop"));
  auto* lang = dynamic_cast<ui::TComboBox*>(window->FindParamControl("btparamslang"));
  ASSERT_TRUE(full && min && desktop && lang);
  // Radio options of one group share its panel (group names ignore case);
  // an option without a group lands in the scroll box itself.
  EXPECT_EQ(full->Parent(), window->FindParamControl("pnParamsKind"));
  EXPECT_EQ(min->Parent(), full->Parent());
  EXPECT_EQ(lang->Parent(), window->FindParamControl("pnParamsЯЗЫК"));
  EXPECT_EQ(desktop->Parent(), window->sbParams);
  EXPECT_TRUE(full->Checked());
  EXPECT_FALSE(min->Checked());
  EXPECT_TRUE(desktop->Checked());
  EXPECT_EQ(lang->Items(), (std::vector<std::string>{"ru", "en", "de"}));
  EXPECT_EQ(lang->ItemIndex(), 0);

  desktop->Click();
  lang->SetItemIndex(1);
  window->edPath->SetText("  " + FTarget.File("Demo") + "\\  ");
  window->btNext->Click();
  EXPECT_EQ(window->nbPages->PageIndex(), 3);
  ServeUntilFinished(*window);

  EXPECT_FALSE(window->Worker().Error()) << window->Worker().Message();
  EXPECT_EQ(window->Worker().InstallParameters().InstallPath(), FTarget.File("Demo"));
  EXPECT_EQ(window->Worker().InstallParameters().Options().Items(), std::vector<std::string>{"Full"});
  EXPECT_TRUE(std::filesystem::exists(FTarget.Native("Demo/readme-en.txt")));
  EXPECT_TRUE(std::filesystem::exists(FTarget.Native("Demo/full.txt")));
  EXPECT_FALSE(std::filesystem::exists(FTarget.Native("Demo/desktop.txt")));

  const auto& lines = window->reLog->Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.front().Color, kBlue);
  EXPECT_EQ(lines.back().Color, kGreen);
  EXPECT_EQ(LogTexts(*window).back(), "[Install] Установка завершена.");
  // The installer's messages also reach its log file.
  std::string log = testing::ReadNative(FTarget.Native("Demo/setup.log"));
  EXPECT_NE(log.find("[Install] Установка завершена."), std::string::npos);

  EXPECT_TRUE(window->pbProgress->Visible());
  EXPECT_EQ(window->pbProgress->Position(), window->pbProgress->Max());
  EXPECT_EQ(window->pbProgress->Max(), 5);
  EXPECT_FALSE(window->btNext->Visible());
  EXPECT_TRUE(FToolkit.ShownBoxes().empty());
  window->btCancel->Click();
  EXPECT_TRUE(window->Form().Closed());
  window.reset();
  EXPECT_EQ(FBatches, 0);
}

TEST_F(InstallerFormTest, CloseWhileRunningAsksAndInterruptsOnYes) {
  WriteInstaller();
  auto window = Open();
  window->btNext->Click();
  window->btNext->Click();
  // The worker now waits for the main thread in its start event.
  while (!window->Worker().Running()) std::this_thread::yield();

  window->Form().Close();  // no scripted answer: No
  ASSERT_EQ(FToolkit.ShownBoxes().size(), 1u);
  EXPECT_EQ(FToolkit.ShownBoxes()[0].Text, "Вы уверены, что хотите прервать процесс установки?");
  EXPECT_EQ(FToolkit.ShownBoxes()[0].Caption, "Установка");
  EXPECT_EQ(FToolkit.ShownBoxes()[0].Flags, ui::kMbYesNo | ui::kMbIconQuestion);
  EXPECT_FALSE(window->Form().Closed());
  EXPECT_FALSE(window->Worker().Terminated());

  FToolkit.QueueAnswer(ui::kIdYes);
  window->btCancel->Click();
  EXPECT_FALSE(window->Form().Closed());
  EXPECT_TRUE(window->Worker().Terminated());

  ServeUntilFinished(*window);
  EXPECT_TRUE(window->Worker().Error());
  // The silent run's code for a cancelled install.
  EXPECT_EQ(window->ExitCode(), 1);
  EXPECT_EQ(LogTexts(*window).back(), "Установка завершена с ошибкой: Процесс установки прерван.");
  EXPECT_EQ(window->reLog->Lines().back().Color, kRed);
  // The fatal message came in a box with the error icon.
  ASSERT_EQ(FToolkit.ShownBoxes().size(), 3u);
  EXPECT_EQ(FToolkit.ShownBoxes()[2].Flags, ui::kMbOk | ui::kMbIconError);
  EXPECT_FALSE(window->btNext->Visible());

  window->btCancel->Click();
  EXPECT_TRUE(window->Form().Closed());
  EXPECT_EQ(FToolkit.ShownBoxes().size(), 3u);
}

TEST_F(InstallerFormTest, UnreadableDescriptionShowsOneRedLineOnly) {
  WriteTextFile("not a container", FPackage.File("setup.xml"), 65001);
  auto window = Open({"setup.exe", "CREATE"});
  EXPECT_EQ(window->nbPages->PageIndex(), 3);
  ASSERT_EQ(window->reLog->Lines().size(), 1u);
  EXPECT_EQ(window->reLog->Lines()[0].Color, kRed);
  EXPECT_EQ(LogTexts(*window)[0], window->Worker().Message());
  EXPECT_TRUE(FToolkit.ShownBoxes().empty());
  EXPECT_FALSE(window->btNext->Visible());
  EXPECT_TRUE(window->btCreate->Visible());
  EXPECT_FALSE(std::filesystem::exists(FPackage.Native("setup.log")));
  window->btCancel->Click();
  EXPECT_TRUE(window->Form().Closed());
  EXPECT_EQ(window->ExitCode(), 1);
}

TEST_F(InstallerFormTest, CreateWordIsNotTrimmed) {
  WriteInstaller();
  EXPECT_FALSE(Open({"setup.exe", " create"})->btCreate->Visible());
  EXPECT_FALSE(Open({"setup.exe", "silent", "create"})->btCreate->Visible());
}

TEST_F(InstallerFormTest, UninstallerRelaunchesOutsideTempAndRunsInside) {
  WriteDescription("<UnInstall>" + Entry("u1", "Nothing") + "</UnInstall>", FTarget.Path());
  {
    auto window = Open();
    EXPECT_TRUE(window->ApplicationTerminated());
    EXPECT_EQ(FRelaunches, 1);
    EXPECT_EQ(window->nbPages->PageIndex(), 1);
    EXPECT_EQ(window->Form().Text().rfind("Установка (", 0), 0u);
  }
  EXPECT_EQ(FBatches, 0);
  FFromTemp = true;
  {
    auto window = Open();
    EXPECT_FALSE(window->ApplicationTerminated());
    EXPECT_EQ(FRelaunches, 1);
    EXPECT_EQ(window->nbPages->PageIndex(), 1);
    EXPECT_EQ(window->lbIntroUName1->Text(), "\"Demo 1.2.3.4\"");
    EXPECT_TRUE(window->sbParams->Children().empty());
    window->btNext->Click();
    ServeUntilFinished(*window);
    EXPECT_FALSE(window->Worker().Error()) << window->Worker().Message();
    EXPECT_EQ(LogTexts(*window).back(), "[UnInstall] Удаление завершено.");
    EXPECT_EQ(window->reLog->Lines().back().Color, kGreen);
    // An uninstaller writes no log file.
    EXPECT_FALSE(std::filesystem::exists(FPackage.Native("setup.log")));
  }
  EXPECT_EQ(FBatches, 1);
}

TEST_F(InstallerFormTest, FolderDialogReplacesPathOnlyWhenConfirmed) {
  WriteInstaller();
  auto window = Open();
  window->btNext->Click();
  window->edPath->SetText(" C:\\Start\\ ");
  window->btSelectFolder->Click();
  EXPECT_EQ(FToolkit.LastFolderTitle, "Выберите папку для установки");
  EXPECT_EQ(FToolkit.LastFolderStart, "C:\\Start\\");
  EXPECT_EQ(window->edPath->Text(), " C:\\Start\\ ");
  FToolkit.FolderAnswer = "D:\\Programs\\";
  window->btSelectFolder->Click();
  EXPECT_EQ(window->edPath->Text(), "D:\\Programs");
}

TEST_F(InstallerFormTest, FolderPageRefusesAnUnusableFolderAndStays) {
  WriteInstaller();
  auto window = Open();
  window->btNext->Click();
  window->edPath->SetText("  ");
  window->btNext->Click();
  ASSERT_EQ(FToolkit.ShownBoxes().size(), 1u);
  EXPECT_EQ(FToolkit.ShownBoxes()[0].Text, "Недопустимая папка установки: .");
  EXPECT_EQ(FToolkit.ShownBoxes()[0].Caption, "Установка");
  EXPECT_EQ(FToolkit.ShownBoxes()[0].Flags, ui::kMbOk | ui::kMbIconError);
  EXPECT_EQ(window->nbPages->PageIndex(), 2);
  EXPECT_EQ(window->Form().Focused(), window->edPath);
  EXPECT_TRUE(window->reLog->Lines().empty());
  // The package's own folder is refused too; then a usable folder written
  // with a step back reaches the worker absolute and plain.
  window->edPath->SetText(FPackage.Path());
  window->btNext->Click();
  EXPECT_EQ(FToolkit.ShownBoxes().size(), 2u);
  EXPECT_EQ(window->nbPages->PageIndex(), 2);
  window->edPath->SetText(FTarget.File("x") + "\\..\\Demo\\ ");
  window->btNext->Click();
  EXPECT_EQ(window->nbPages->PageIndex(), 3);
  ServeUntilFinished(*window);
  EXPECT_FALSE(window->Worker().Error()) << window->Worker().Message();
  EXPECT_EQ(window->ExitCode(), 0);
  EXPECT_EQ(window->Worker().InstallParameters().InstallPath(), FTarget.File("Demo"));
  EXPECT_TRUE(std::filesystem::exists(FTarget.Native("Demo/full.txt")));
  EXPECT_EQ(FToolkit.ShownBoxes().size(), 2u);
}

TEST_F(InstallerFormTest, AnInstalledProgramIsOfferedItsRegisteredFolder) {
  WriteInstaller();
  auto& registry = platform::Registry::Default();
  ASSERT_TRUE(registry.CreateKey(RegistryRoot::LocalMachine, RegistrationKey()).ok());
  ASSERT_TRUE(registry.SetString(RegistryRoot::LocalMachine, RegistrationKey(), "InstallLocation", FPackage.Path()).ok());
  // A registered folder the guard refuses (here the engine's own) is shown,
  // refused with its reason, and the user may choose another.
  auto window = Open();
  EXPECT_EQ(window->edPath->Text(), FPackage.Path());
  window->btNext->Click();
  window->btNext->Click();
  ASSERT_EQ(FToolkit.ShownBoxes().size(), 1u);
  EXPECT_EQ(FToolkit.ShownBoxes()[0].Text, "Недопустимая папка установки: " + ExcludeTrailingDelimiter(FPackage.Path()) +
                                               ". В ней зарегистрирована установленная версия программы; укажите "
                                               "папку установки явно.");
  EXPECT_EQ(window->nbPages->PageIndex(), 2);
  window.reset();
  ASSERT_TRUE(registry.SetString(RegistryRoot::LocalMachine, RegistrationKey(), "InstallLocation", FTarget.File("Old")).ok());
  window = Open();
  EXPECT_EQ(window->edPath->Text(), FTarget.File("Old"));
}

TEST_F(InstallerFormTest, LogColoursAndMessageBoxIcons) {
  WriteInstaller();
  auto window = Open();
  window->Log("a", 0, false, false);
  window->Log("b", 1, true, false);
  window->Log("c", 2, true, false);
  window->Log("d", 4, false, false);
  window->Log("e", 7, true, false);
  std::vector<ui::TColor> colors;
  for (const auto& line : window->reLog->Lines()) colors.push_back(line.Color);
  EXPECT_EQ(colors, (std::vector<ui::TColor>{kGreen, kRed, ui::Rgb(128, 0, 0), kBlue, ui::kBlack}));
  ASSERT_EQ(FToolkit.ShownBoxes().size(), 3u);
  EXPECT_EQ(FToolkit.ShownBoxes()[0].Flags, ui::kMbIconError);
  EXPECT_EQ(FToolkit.ShownBoxes()[1].Flags, ui::kMbIconWarning);
  EXPECT_EQ(FToolkit.ShownBoxes()[2].Flags, ui::kMbIconInformation);
  EXPECT_EQ(FToolkit.ShownBoxes()[2].Caption, "Установка");
}

}  // namespace
}  // namespace volok
