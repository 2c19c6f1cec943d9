// The wizard by keyboard alone, through the headless toolkit: the Tab order
// of every page, the radio group's arrows, Space, Enter for the default button
// and Escape for "Выход".
#include <thread>

#include "wizard_fixture.h"

namespace volok {
namespace {

using ui::TKey;

const std::string kKeyboardOptions =
    "<Options><Group><Name>Kind</Name><DisplayName>Вид установки</DisplayName></Group>"
    "<Group><Name>Lang</Name><DisplayName>Язык</DisplayName></Group>"
    "<Option><Name>Full</Name><Type>radio</Type><Group>Kind</Group><DisplayName>Полная</DisplayName></Option>"
    "<Option><Name>Min</Name><Type>radio</Type><Group>Kind</Group><DisplayName>Минимальная</DisplayName></Option>"
    "<Option><Name>Desktop</Name><Type>check</Type><DisplayName>Ярлык</DisplayName></Option>"
    "<Option><Name>Lang</Name><Type>combo</Type><Group>Lang</Group><DisplayName>x</DisplayName>"
    "<Values>ru;en</Values></Option>"
    "<Default>Full,Desktop</Default></Options>";

class KeyboardTest : public WizardTest {
 protected:
  void WriteInstaller(const std::string& options = kKeyboardOptions) {
    testing::WriteNative(FPackage.Native("readme.txt"), "read me");
    WriteDescription(options + "<Install>" +
                         File("copy", "{InstallerPath}\\readme.txt", "Copy2", "{InstallPath}\\readme-{Lang}.txt") +
                         "</Install>",
                     FTarget.File("Demo"));
  }
  static bool Press(TfmInstaller& window, TKey key, bool shift = false) { return window.Form().KeyDown(key, shift); }
  static std::vector<std::string> Order(TfmInstaller& window) {
    std::vector<std::string> names;
    for (ui::TControl* control : window.Form().TabOrder()) names.push_back(control->Name());
    return names;
  }
  static std::string FocusedName(TfmInstaller& window) {
    ui::TControl* focused = window.Form().Focused();
    return focused ? focused->Name() : "(none)";
  }
  static ui::TCheckable& Option(TfmInstaller& window, const std::string& name) {
    return *static_cast<ui::TCheckable*>(window.FindParamControl("btParams" + name));
  }
};

TEST_F(KeyboardTest, WholeInstallByKeys) {
  WriteInstaller();
  auto window = Open();
  // Welcome: "Далее" has the focus and is the default; Space on it as well.
  EXPECT_EQ(Order(*window), (std::vector<std::string>{"btNext", "btCancel"}));
  EXPECT_EQ(FocusedName(*window), "btNext");
  EXPECT_EQ(window->Form().DefaultButton(), window->btNext);
  EXPECT_TRUE(Press(*window, TKey::Tab));
  EXPECT_EQ(FocusedName(*window), "btCancel");
  EXPECT_TRUE(Press(*window, TKey::Tab, true));
  EXPECT_TRUE(Press(*window, TKey::Space));
  ASSERT_EQ(window->nbPages->PageIndex(), 2);

  // Options: folder field, "...", options top to bottom (a radio group is one
  // stop: its checked button), then the buttons; Shift+Tab wraps backwards.
  EXPECT_EQ(FocusedName(*window), "edPath");
  EXPECT_EQ(Order(*window), (std::vector<std::string>{"edPath", "btSelectFolder", "btParamsFull", "btParamsLang",
                                                      "btParamsDesktop", "btNext", "btCancel"}));
  EXPECT_TRUE(Press(*window, TKey::Tab, true));
  EXPECT_EQ(FocusedName(*window), "btCancel");
  EXPECT_TRUE(Press(*window, TKey::Tab));
  EXPECT_FALSE(Press(*window, TKey::Space));  // the field types it
  EXPECT_FALSE(Press(*window, TKey::Down));
  Press(*window, TKey::Tab);
  Press(*window, TKey::Tab);
  EXPECT_EQ(FocusedName(*window), "btParamsFull");
  // The arrows move within the group and choose; the group's stop follows.
  EXPECT_TRUE(Press(*window, TKey::Down));
  EXPECT_EQ(FocusedName(*window), "btParamsMin");
  EXPECT_TRUE(Option(*window, "Min").Checked());
  EXPECT_FALSE(Option(*window, "Full").Checked());
  EXPECT_TRUE(Press(*window, TKey::Right));  // wraps to the first
  EXPECT_EQ(FocusedName(*window), "btParamsFull");
  EXPECT_TRUE(Press(*window, TKey::Up));
  EXPECT_EQ(Order(*window)[2], "btParamsMin");
  Press(*window, TKey::Tab);
  EXPECT_EQ(FocusedName(*window), "btParamsLang");
  EXPECT_FALSE(Press(*window, TKey::Down));  // the list's own key
  Press(*window, TKey::Tab);
  EXPECT_TRUE(Press(*window, TKey::Space));
  EXPECT_FALSE(Option(*window, "Desktop").Checked());
  // Enter on an option presses the default button: the install starts.
  EXPECT_TRUE(Press(*window, TKey::Enter));
  ASSERT_EQ(window->nbPages->PageIndex(), 3);
  ServeUntilFinished(*window);
  EXPECT_FALSE(window->Worker().Error()) << window->Worker().Message();
  EXPECT_EQ(window->Worker().InstallParameters().Options().Items(), std::vector<std::string>{"Min"});
  EXPECT_TRUE(std::filesystem::exists(FTarget.Native("Demo/readme-ru.txt")));

  // Finished: only "Выход" is left; it has the focus, Enter presses it.
  EXPECT_EQ(Order(*window), std::vector<std::string>{"btCancel"});
  EXPECT_EQ(FocusedName(*window), "btCancel");
  EXPECT_EQ(window->Form().DefaultButton(), nullptr);
  EXPECT_TRUE(Press(*window, TKey::Enter));
  EXPECT_TRUE(window->Form().Closed());
}

TEST_F(KeyboardTest, EscapeAsksWhileTheWorkerRunsAndClosesOtherwise) {
  WriteInstaller();
  {
    auto window = Open();
    Press(*window, TKey::Escape);
    EXPECT_TRUE(window->Form().Closed());
    EXPECT_TRUE(FToolkit.ShownBoxes().empty());
  }
  auto window = Open();
  Press(*window, TKey::Enter);
  Press(*window, TKey::Enter);
  // The worker now waits for the main thread in its start event.
  while (!window->Worker().Running()) std::this_thread::yield();
  EXPECT_EQ(window->Form().DefaultButton(), window->btNext);
  EXPECT_TRUE(Press(*window, TKey::Escape));  // no scripted answer: No
  ASSERT_EQ(FToolkit.ShownBoxes().size(), 1u);
  EXPECT_EQ(FToolkit.ShownBoxes()[0].Text, "Вы уверены, что хотите прервать процесс установки?");
  EXPECT_FALSE(window->Form().Closed());
  ServeUntilFinished(*window);
  EXPECT_FALSE(window->Worker().Error()) << window->Worker().Message();
  Press(*window, TKey::Escape);
  EXPECT_TRUE(window->Form().Closed());
  EXPECT_EQ(FToolkit.ShownBoxes().size(), 1u);
}

TEST_F(KeyboardTest, WhileRunningEnterPressesNothingButTheFocusedButton) {
  WriteInstaller();
  auto window = Open();
  Press(*window, TKey::Enter);
  Press(*window, TKey::Enter);
  MainThreadQueue::Instance().ServeUntil([&] { return !window->btNext->Enabled() || !window->btNext->Visible(); });
  // "Далее" is disabled (or gone): no default button; the focus left it.
  EXPECT_EQ(window->Form().DefaultButton(), nullptr);
  EXPECT_EQ(FocusedName(*window), "btCancel");
  ServeUntilFinished(*window);
}

TEST_F(KeyboardTest, DescriptionErrorPageWithAndWithoutCreate) {
  WriteTextFile("not a container", FPackage.File("setup.xml"), 65001);
  {
    // "Создать" is the only action: the default, and focused.
    auto window = Open({"setup.exe", "create"});
    EXPECT_EQ(window->nbPages->PageIndex(), 3);
    EXPECT_EQ(Order(*window), (std::vector<std::string>{"btCreate", "btCancel"}));
    EXPECT_EQ(window->Form().DefaultButton(), window->btCreate);
    EXPECT_EQ(FocusedName(*window), "btCreate");
    Press(*window, TKey::Escape);
    EXPECT_TRUE(window->Form().Closed());
  }
  auto window = Open();
  EXPECT_EQ(window->Form().DefaultButton(), nullptr);
  EXPECT_EQ(FocusedName(*window), "btCancel");
  Press(*window, TKey::Tab);
  EXPECT_EQ(FocusedName(*window), "btCancel");
  Press(*window, TKey::Enter);
  EXPECT_TRUE(window->Form().Closed());
}

TEST_F(KeyboardTest, UninstallWelcomeStartsOnEnter) {
  WriteDescription("<UnInstall>" + Entry("u1", "Nothing") + "</UnInstall>", FTarget.Path());
  FFromTemp = true;
  auto window = Open();
  ASSERT_EQ(window->nbPages->PageIndex(), 1);
  EXPECT_EQ(Order(*window), (std::vector<std::string>{"btNext", "btCancel"}));
  EXPECT_EQ(FocusedName(*window), "btNext");
  Press(*window, TKey::Enter);
  EXPECT_EQ(window->nbPages->PageIndex(), 3);
  ServeUntilFinished(*window);
  EXPECT_FALSE(window->Worker().Error()) << window->Worker().Message();
  EXPECT_EQ(FocusedName(*window), "btCancel");
}

TEST_F(KeyboardTest, TabBringsAnOptionBelowTheBoxIntoView) {
  std::string options = "<Options>";
  for (int i = 0; i < 14; ++i)
    options += "<Option><Name>o" + std::to_string(i) + "</Name><Type>check</Type><DisplayName>Вариант " +
               std::to_string(i) + "</DisplayName></Option>";
  WriteInstaller(options + "</Options>");
  auto window = Open();
  Press(*window, TKey::Enter);
  ui::TContainer& box = *window->sbParams;
  ASSERT_GT(box.ContentHeight(), box.Bounds().Height);
  // From the folder field: "...", then the fourteen options in order.
  for (int i = 0; i < 15; ++i) Press(*window, TKey::Tab);
  ASSERT_EQ(FocusedName(*window), "btParamso13");
  const ui::TRect& last = window->Form().Focused()->Bounds();
  EXPECT_GT(box.ScrollOffset(), 0);
  EXPECT_GE(last.Top, 0);
  EXPECT_LE(last.Top + last.Height, box.Bounds().Height);
  // Back to the first: the box scrolls up again.
  for (int i = 0; i < 13; ++i) Press(*window, TKey::Tab, true);
  ASSERT_EQ(FocusedName(*window), "btParamso0");
  EXPECT_EQ(box.ScrollOffset(), 0);
}

}  // namespace
}  // namespace volok
