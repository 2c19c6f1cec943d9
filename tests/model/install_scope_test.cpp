// For whom a run installs: the described scope, the run's switch, its
// rights and the copy already installed, and the folder a per-user run
// takes in place of {ProgramFiles}.
#include "model/install_scope.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/crypt.h"
#include "common/text_file.h"
#include "model/install.h"
#include "temp_folder.h"

namespace volok {
namespace {

using S = TInstallScope;
using W = TScopeSwitch;

TEST(InstallScopeTest, OnlyTheThreeWordsInAnyCaseAndAbsenceMeanAScope) {
  S scope = S::User;
  ASSERT_TRUE(ParseInstallScope("", scope));
  EXPECT_EQ(scope, S::Machine);
  ASSERT_TRUE(ParseInstallScope(" USER\r\n", scope));
  EXPECT_EQ(scope, S::User);
  ASSERT_TRUE(ParseInstallScope("Either", scope));
  EXPECT_EQ(scope, S::Either);
  ASSERT_TRUE(ParseInstallScope("machine", scope));
  EXPECT_EQ(scope, S::Machine);
  for (const char* bad : {"perUser", "users", "all", "machine,user", "0"}) EXPECT_FALSE(ParseInstallScope(bad, scope)) << bad;
  EXPECT_STREQ(InstallScopeName(S::User), "user");
  EXPECT_STREQ(InstallScopeName(S::Machine), "machine");
  EXPECT_STREQ(InstallScopeName(S::Either), "either");
}

TEST(InstallScopeTest, TheDecisionForEveryScopeSwitchAndRights) {
  struct Case {
    S described;
    W requested;
    bool elevated;
    S expected;
    bool error;
  };
  const Case cases[] = {
      // A fixed scope stays whatever the rights; the other scope's switch is refused.
      {S::Machine, W::None, false, S::Machine, false},     {S::Machine, W::AllUsers, false, S::Machine, false},
      {S::Machine, W::CurrentUser, true, S::Machine, true}, {S::Machine, W::CurrentUser, false, S::Machine, true},
      {S::User, W::None, true, S::User, false},            {S::User, W::CurrentUser, true, S::User, false},
      {S::User, W::AllUsers, true, S::User, true},         {S::User, W::AllUsers, false, S::User, true},
      // Either: the switch, else the rights.
      {S::Either, W::AllUsers, false, S::Machine, false},  {S::Either, W::CurrentUser, true, S::User, false},
      {S::Either, W::None, true, S::Machine, false},       {S::Either, W::None, false, S::User, false},
  };
  for (const Case& c : cases) {
    const TScopeChoice choice = ChooseScope(c.described, c.requested, c.elevated);
    const std::string what = std::string(InstallScopeName(c.described)) + " switch " +
                             std::to_string(static_cast<int>(c.requested)) + (c.elevated ? " elevated" : "");
    EXPECT_EQ(choice.Scope, c.expected) << what;
    EXPECT_EQ(!choice.Error.empty(), c.error) << what;
  }
  EXPECT_EQ(ChooseScope(S::Machine, W::CurrentUser, true).Error,
            "Параметр /currentuser противоречит описанию установки: программа устанавливается только для всех "
            "пользователей (Scope = machine).");
  EXPECT_NE(ChooseScope(S::User, W::AllUsers, true).Error.find("/allusers"), std::string::npos);
}

TEST(InstallScopeTest, AnUpgradeOfEitherStaysWhereTheInstalledCopyIsUnlessASwitchSaysOtherwise) {
  EXPECT_EQ(ChooseScope(S::Either, W::None, true, S::User).Scope, S::User);
  EXPECT_EQ(ChooseScope(S::Either, W::None, false, S::Machine).Scope, S::Machine);
  EXPECT_EQ(ChooseScope(S::Either, W::AllUsers, true, S::User).Scope, S::Machine);
  // A fixed scope is not moved by what is installed.
  EXPECT_EQ(ChooseScope(S::Machine, W::None, false, S::User).Scope, S::Machine);
}

TEST(InstallScopeTest, APerUserRunMovesOnlyAProgramFilesFolder) {
  EXPECT_EQ(UserInstallPath("{ProgramFiles}\\Volok Demo"), "{LocalAppData}\\Programs\\Volok Demo");
  EXPECT_EQ(UserInstallPath("{programfiles}\\{ShortName}"), "{LocalAppData}\\Programs\\{ShortName}");
  EXPECT_EQ(UserInstallPath("{ProgramFiles}"), "{LocalAppData}\\Programs");
  for (const char* kept : {"{LocalAppData}\\App", "D:\\Apps\\X", "{ProgramFilesCommon}\\X", "x{ProgramFiles}\\X", ""})
    EXPECT_EQ(UserInstallPath(kept), kept);
}

TEST(InstallScopeTest, TheDescriptionReadsItsScopeAndUninstallXmlRecordsTheOneTaken) {
  const std::string header = "<Company>c</Company><Name>n</Name><ShortName>s</ShortName><InstallPath>C:\\A</InstallPath>";
  const std::string body = "<UnInstall><File><Name>x</Name><FileName>C:\\A\\x</FileName><Action>DeleteFile</Action>"
                           "<Destination>-</Destination></File></UnInstall>";
  TInstall absent;
  absent.ReadXml("<Installer>" + header + body + "</Installer>");
  EXPECT_EQ(absent.Scope(), S::Machine);
  TInstall either;
  either.ReadXml("<Installer>" + header + "<Scope>either</Scope>" + body + "</Installer>");
  EXPECT_EQ(either.Scope(), S::Either);
  try {
    TInstall bad;
    bad.ReadXml("<Installer>" + header + "<Scope>everyone</Scope></Installer>");
    FAIL() << "a scope no run knows was read";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(),
                 "[ReadXML] Ошибка: Недопустимая область установки (Scope): \"everyone\"; допустимы machine, user и either.");
  }
  either.SetScope(S::User);
  testing::TempFolder folder;
  either.SaveUnInstallXml(folder.File("uninstall.xml"));
  TInstall copy;
  copy.ReadXml(DecryptText(ReadTextFile(folder.File("uninstall.xml"))));
  EXPECT_EQ(copy.Scope(), S::User);
}

TEST(InstallScopeTest, TheMachineFoldersNameProgramFilesAndTheCommonOnesButNoUserFolder) {
  const std::vector<std::string>& names = MachineFolderVariables();
  for (const char* machine : {"ProgramFiles", "ProgramFilesCommon", "CommonPrograms", "CommonDesktop", "CommonAppData"})
    EXPECT_NE(std::find(names.begin(), names.end(), machine), names.end()) << machine;
  for (const char* user : {"LocalAppData", "AppData", "Programs", "Desktop", "StartMenu", "InstallPath"})
    EXPECT_EQ(std::find(names.begin(), names.end(), user), names.end()) << user;
}

}  // namespace
}  // namespace volok
