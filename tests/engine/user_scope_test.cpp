// A per-user install: no rights asked, the folder below the user's
// {LocalAppData}\Programs, the entry under HKEY_CURRENT_USER, and whatever
// would reach every user of the machine refused before anything changes.
#include "worker_fixture.h"

#include "common/file_utils.h"
#include "platform/shell.h"

namespace volok {
namespace {

namespace fs = std::filesystem;

// The user's and the machine's folders, each in a scratch folder of its own.
class ScratchShell final : public platform::Shell {
 public:
  explicit ScratchShell(const testing::TempFolder& root) : FRoot(root) {}
  std::string SpecialFolder(platform::SpecialFolderId id) override {
    using Id = platform::SpecialFolderId;
    switch (id) {
      case Id::LocalAppData: return FRoot.File("local");
      case Id::Programs: return FRoot.File("programs");
      case Id::ProgramFiles: return FRoot.File("program files");
      case Id::CommonPrograms: return FRoot.File("common programs");
      case Id::CommonAppData: return FRoot.File("program data");
      default: return platform::Shell::BuiltIn().SpecialFolder(id);
    }
  }
  platform::Status CreateShellLink(const std::string& link, const std::string& program, const std::string& arguments,
                                   const std::string& folder, bool& saved) override {
    return platform::Shell::BuiltIn().CreateShellLink(link, program, arguments, folder, saved);
  }

 private:
  const testing::TempFolder& FRoot;
};

class UserScopeTest : public WorkerTest {
 protected:
  void SetUp() override {
    WorkerTest::SetUp();
    FSecurity.Admin = false;  // a standard account: no rights, none asked for
  }
  void TearDown() override {
    (void)platform::Registry::Default().DeleteKeyTree(RegistryRoot::CurrentUser, RegistrationKey());
    WorkerTest::TearDown();
  }

  std::string UserText(const std::string& name) {
    platform::RegistryValue value;
    if (!platform::Registry::Default().ReadValue(RegistryRoot::CurrentUser, RegistrationKey(), name, value).ok())
      return "<missing>";
    return value.Text;
  }

  // Installs `entries` for a description of `scope` whose folder is
  // {ProgramFiles}\App; answers the worker's final message.
  std::string Install(const std::string& scope, const std::string& entries, TScopeSwitch requested = TScopeSwitch::None) {
    WriteDescription("<Scope>" + scope + "</Scope><Install>" + entries + "</Install>", "{ProgramFiles}\\App");
    TInstallerThread worker(requested);
    if (worker.Error()) return "construction: " + worker.Message();
    FScope = worker.Scope();
    Attach(worker);
    Run(worker);
    return worker.Message();
  }

  std::string Marker() const {
    return File("marker", FPackage.File("marker.txt"), "Copy2", "{InstallPath}\\marker.txt");
  }

  testing::TempFolder FFolders;
  ScratchShell FShell{FFolders};
  platform::ScopedDefault<platform::Shell> FShellScope{FShell};
  TInstallScope FScope = TInstallScope::Machine;
};

TEST_F(UserScopeTest, APerUserInstallNeedsNoRightsAndRegistersUnderTheUser) {
  testing::WriteNative(FPackage.Native("marker.txt"), "marker");
  const std::string link = File("link", "{InstallPath}\\marker.txt", "Link", "{Programs}\\App.lnk");
  ASSERT_EQ(Install("user", Marker() + link), kDone);
  EXPECT_EQ(FScope, TInstallScope::User);
  // {ProgramFiles}\App became the user's own programs folder.
  const std::string folder = FFolders.File("local\\Programs\\App");
  EXPECT_EQ(testing::ReadNative(FFolders.Native("local/Programs/App/marker.txt")), "marker");
  EXPECT_TRUE(fs::exists(FFolders.Native("programs/App.lnk")));
  EXPECT_FALSE(fs::exists(FFolders.Native("program files")));
  EXPECT_EQ(UserText("InstallLocation"), folder);
  EXPECT_EQ(UserText("UninstallString"), "\"" + folder + "\\uninstall.exe\"");
  EXPECT_EQ(RegistryText("InstallLocation"), "<missing>");
  // The uninstaller learns its scope from what the install recorded.
  std::string uninstall = DecryptText(ReadTextFile(folder + "\\uninstall.xml"));
  EXPECT_NE(uninstall.find("<Scope>user</Scope>"), std::string::npos) << uninstall;
}

TEST_F(UserScopeTest, TheUninstallerFindsItsScopeAndRemovesTheUsersEntry) {
  testing::WriteNative(FPackage.Native("marker.txt"), "marker");
  ASSERT_EQ(Install("either", Marker(), TScopeSwitch::CurrentUser), kDone);
  const std::string folder = FFolders.File("local\\Programs\\App");
  // uninstall.xml holds its entries with the placeholders replaced.
  const std::string del = File("del", folder + "\\marker.txt", "DeleteFile", "-");
  // The install list carried no uninstall entries: the uninstaller is given one.
  std::string xml = DecryptText(ReadTextFile(folder + "\\uninstall.xml"));
  bool given = false;
  for (const std::string empty : {"<UnInstall/>", "<UnInstall />", "<UnInstall></UnInstall>"}) {
    const std::size_t at = xml.find(empty);
    if (given || at == std::string::npos) continue;
    xml.replace(at, empty.size(), "<UnInstall>" + del + "</UnInstall>");
    given = true;
  }
  ASSERT_TRUE(given) << xml;
  SetExeFileName(FPackage.File("uninstall.exe"));
  testing::WriteNative(FPackage.Native("uninstall.exe"), "not really a program");
  WriteTextFile(EncryptText(xml), FPackage.File("uninstall.xml"), 65001);
  TInstallerThread worker;
  ASSERT_FALSE(worker.Error()) << worker.Message();
  EXPECT_EQ(worker.Scope(), TInstallScope::User);
  Attach(worker);
  Run(worker);
  EXPECT_EQ(worker.Message(), "[UnInstall] Удаление завершено.");
  EXPECT_FALSE(fs::exists(FFolders.Native("local/Programs/App/marker.txt")));
  EXPECT_EQ(UserText("InstallLocation"), "<missing>");
}

TEST_F(UserScopeTest, WhatWouldReachEveryUserIsRefusedNamingTheEntryBeforeAnythingChanges) {
  testing::WriteNative(FPackage.Native("marker.txt"), "marker");
  const std::string machine_file = File("в Program Files", FPackage.File("marker.txt"), "Copy2", "{ProgramFiles}\\x.txt");
  const std::string common_link = File("общий ярлык", "{InstallPath}\\marker.txt", "Link", "{CommonPrograms}\\App.lnk");
  const std::string machine_key = File("ключ", "HKEY_LOCAL_MACHINE\\Software\\App", "RegistryWrite", "v,STRING,1");
  const std::string users_key = File("чужой", "HKU\\S-1-5-18\\Software\\App", "RegistryDelete", "v");
  const std::string program_files = FFolders.File("program files");
  const std::pair<std::string, std::string> cases[] = {
      {machine_file, "Запись \"в Program Files\" (Copy2) пишет в папке для всех пользователей (\"" + program_files +
                         "\"): " + program_files + "\\x.txt."},
      {common_link, "Запись \"общий ярлык\" (Link) пишет в папке для всех пользователей"},
      {machine_key, "Запись \"ключ\" (RegistryWrite) обращается к разделу HKEY_LOCAL_MACHINE. Установка для текущего "
                    "пользователя (Scope = user) пишет только в HKEY_CURRENT_USER."},
      {users_key, "Запись \"чужой\" (RegistryDelete) обращается к разделу HKEY_USERS."},
  };
  for (const auto& [entry, expected] : cases) {
    const std::string message = Install("user", Marker() + entry);
    EXPECT_NE(message.find("Установка завершена с ошибкой: " + expected), std::string::npos) << message;
    EXPECT_FALSE(fs::exists(FFolders.Native("local/Programs/App/marker.txt"))) << expected;
    EXPECT_EQ(UserText("InstallLocation"), "<missing>");
  }
  EXPECT_FALSE(fs::exists(FFolders.Native("program files")));
  EXPECT_FALSE(fs::exists(FFolders.Native("common programs")));
}

TEST_F(UserScopeTest, AFolderForEveryUserIsRefusedAsThePerUserInstallFolder) {
  WriteDescription("<Scope>user</Scope><Install>" + Marker() + "</Install>", FFolders.File("program files\\App"));
  TInstallerThread worker;
  ASSERT_FALSE(worker.Error()) << worker.Message();
  Attach(worker);
  Run(worker);
  EXPECT_NE(worker.Message().find("Папка установки в папке для всех пользователей"), std::string::npos)
      << worker.Message();
  EXPECT_FALSE(fs::exists(FFolders.Native("program files/App")));
}

TEST_F(UserScopeTest, AMachineInstallWithoutRightsIsStillRefused) {
  testing::WriteNative(FPackage.Native("marker.txt"), "marker");
  EXPECT_EQ(Install("machine", Marker()), "Установка завершена с ошибкой: " + std::string(kNoRightsMessage));
  EXPECT_EQ(FScope, TInstallScope::Machine);
  // Either without rights and without a switch installs for the user.
  EXPECT_EQ(Install("either", Marker()), kDone);
  EXPECT_EQ(FScope, TInstallScope::User);
}

TEST_F(UserScopeTest, AnUpgradeOfAPerUserInstallStaysPerUserEvenElevated) {
  testing::WriteNative(FPackage.Native("marker.txt"), "marker");
  ASSERT_EQ(Install("either", Marker()), kDone);
  FSecurity.Admin = true;
  ASSERT_EQ(Install("either", Marker()), kDone);
  EXPECT_EQ(FScope, TInstallScope::User);
  EXPECT_EQ(RegistryText("InstallLocation"), "<missing>");
  // The switch still chooses: a second copy for every user.
  ASSERT_EQ(Install("either", Marker(), TScopeSwitch::AllUsers), kDone);
  EXPECT_EQ(FScope, TInstallScope::Machine);
  EXPECT_EQ(RegistryText("InstallLocation"), FFolders.File("program files\\App"));
}

TEST_F(UserScopeTest, ASwitchAgainstAFixedScopeFailsAsABadCommandLine) {
  WriteDescription("<Scope>user</Scope><Install>" + Marker() + "</Install>", "{ProgramFiles}\\App");
  TInstallerThread worker(TScopeSwitch::AllUsers);
  ASSERT_TRUE(worker.Error());
  EXPECT_EQ(worker.ExitCode(), kExitBadCommandLine);
  EXPECT_EQ(worker.Message(), "Параметр /allusers противоречит описанию установки: программа устанавливается только "
                              "для текущего пользователя (Scope = user).");
}

}  // namespace
}  // namespace volok
