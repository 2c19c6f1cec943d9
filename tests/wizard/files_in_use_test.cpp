// The wizard's question when programs hold files of the folder an upgrade
// replaces: it names them, "Да" closes them (and starts them again after
// the run), "Нет" cancels with the folder untouched.
#include "../engine/fake_file_holders.h"
#include "scoped_env.h"
#include "wizard_fixture.h"

namespace volok {
namespace {

class WizardFilesInUseTest : public WizardTest {
 protected:
  void SetUp() override {
    WizardTest::SetUp();
    FApp = FTarget.File("app");
    std::filesystem::create_directories(FTarget.Native("app"));
    testing::WriteNative(FTarget.Native("app/readme.txt"), "version 1");
    auto& registry = platform::Registry::Default();
    ASSERT_TRUE(registry.CreateKey(RegistryRoot::LocalMachine, RegistrationKey()).ok());
    ASSERT_TRUE(registry.SetString(RegistryRoot::LocalMachine, RegistrationKey(), "InstallLocation", FApp).ok());
    testing::WriteNative(FPackage.Native("readme.txt"), "version 2");
    WriteDescription("<Install>" + File("copy", "{InstallerPath}\\readme.txt", "Copy2", "{InstallPath}\\readme.txt") +
                         "</Install>",
                     FApp);
    FHolders.Holding = {{4242, "app.exe", true}};
  }

  // Runs the upgrade through the window, answering the question.
  std::unique_ptr<TfmInstaller> RunAnswering(int answer) {
    FToolkit.QueueAnswer(answer);
    auto window = Open();
    window->btNext->Click();
    window->btNext->Click();
    ServeUntilFinished(*window);
    return window;
  }

  testing::FakeFileHolders FHolders;
  platform::ScopedDefault<platform::FileHolders> FScope{FHolders};
  testing::TempFolder FData;
  std::string FApp;
};

TEST_F(WizardFilesInUseTest, NoCancelsAndLeavesTheFolder) {
  auto window = RunAnswering(ui::kIdNo);
  ASSERT_FALSE(FToolkit.ShownBoxes().empty());
  const auto& box = FToolkit.ShownBoxes()[0];
  EXPECT_EQ(box.Text,
            "Файлы программы заняты другими программами:\r\napp.exe (4242)\r\n\r\nЗакрыть их и продолжить? После "
            "установки они будут запущены снова.\r\n«Нет» отменяет установку.");
  EXPECT_EQ(box.Flags, ui::kMbYesNo | ui::kMbIconQuestion);
  EXPECT_EQ(window->ExitCode(), kExitCancelled);
  EXPECT_EQ(FHolders.Closes, 0);
  EXPECT_EQ(testing::ReadNative(FTarget.Native("app/readme.txt")), "version 1");
}

TEST_F(WizardFilesInUseTest, YesClosesThemAndStartsThemAgain) {
  testing::ScopedEnv data_home("XDG_DATA_HOME", FData.NativePath().string());
  auto window = RunAnswering(ui::kIdYes);
  EXPECT_EQ(window->ExitCode(), 0) << window->Worker().Message();
  EXPECT_EQ(FHolders.Closes, 1);
  EXPECT_EQ(FHolders.Restarts, 1);
  EXPECT_EQ(testing::ReadNative(FTarget.Native("app/readme.txt")), "version 2");
}

}  // namespace
}  // namespace volok
