// The switches deployment tools pass: each one read as its users expect,
// and nothing that is not understood ever taken for a folder or ignored.
#include "app/run_switches.h"

#include <gtest/gtest.h>

#include "app/command_line.h"

namespace volok {
namespace {

TRunSwitches Parse(const std::string& line) { return ParseRunSwitches(SplitCommandLine(line), CommandLineRests(line)); }

TEST(RunSwitchesTest, EverySilentSpellingSelectsTheSilentRun) {
  for (const char* line : {"setup.exe silent", "setup.exe \" SILENT \"", "setup.exe /S", "setup.exe -s", "setup.exe /silent",
                           "setup.exe -Silent", "setup.exe /VERYSILENT /SUPPRESSMSGBOXES /NORESTART", "setup.exe /quiet",
                           "setup.exe /qn", "setup.exe -QN", "setup.exe /norestart /S"}) {
    TRunSwitches switches = Parse(line);
    EXPECT_EQ(switches.Error, "") << line;
    EXPECT_TRUE(switches.Silent) << line;
    EXPECT_TRUE(switches.Unattended()) << line;
    EXPECT_EQ(switches.InstallFolder, "") << line;
  }
  TRunSwitches all = Parse("setup.exe /VERYSILENT /SUPPRESSMSGBOXES /NORESTART /allowdowngrade");
  EXPECT_TRUE(all.SuppressMsgBoxes);
  EXPECT_TRUE(all.NoRestart);
  EXPECT_TRUE(all.AllowDowngrade);
  EXPECT_FALSE(Parse("setup.exe").Silent);
  TRunSwitches passive = Parse("setup.exe /passive");
  EXPECT_TRUE(passive.Passive);
  EXPECT_FALSE(passive.Silent);
}

TEST(RunSwitchesTest, TheFolderComesFromItsSwitchesOrAfterSilent) {
  struct Case {
    const char* Line;
    const char* Folder;
  } cases[] = {
      {"setup.exe silent C:\\App", "C:\\App"},
      {"setup.exe silent \" C:\\My App\\ \"", "C:\\My App\\"},
      {"setup.exe silent \"\"", ""},
      {"setup.exe silent {ProgramFiles}\\{Name}", "{ProgramFiles}\\{Name}"},
      // NSIS: the rest of the line as it stands, blanks and all.
      {"setup.exe /S /D=C:\\Program Files\\My App", "C:\\Program Files\\My App"},
      {"setup.exe /S \"/D=C:\\Program Files\\My App\"", "C:\\Program Files\\My App"},
      {"setup.exe /S /d=C:\\Program Files\\x /norestart", "C:\\Program Files\\x /norestart"},
      {"setup.exe /S \"/DIR=C:\\Program Files\\App\"", "C:\\Program Files\\App"},
      {"setup.exe /S -dir=D:\\App", "D:\\App"},
      {"setup.exe /qn INSTALLDIR=\"C:\\Program Files\\App\"", "C:\\Program Files\\App"},
      {"setup.exe /qn installdir=D:\\x /norestart", "D:\\x"},
      {"setup.exe silent D:\\x /norestart /log=D:\\x.log", "D:\\x"},
      // A path that starts like a switch, where the folder always stood.
      {"setup.exe silent /opt/app", "/opt/app"},
      {"setup.exe silent //?/Z:/opt/app", "//?/Z:/opt/app"},
  };
  for (const Case& c : cases) {
    TRunSwitches switches = Parse(c.Line);
    EXPECT_EQ(switches.Error, "") << c.Line;
    EXPECT_EQ(switches.InstallFolder, c.Folder) << c.Line;
  }
  // Without the raw line, the parameters joined stand for it.
  TRunSwitches joined = ParseRunSwitches({"setup", "/S", "/D=C:\\Program", "Files\\App"});
  EXPECT_EQ(joined.InstallFolder, "C:\\Program Files\\App");
}

TEST(RunSwitchesTest, TheLogFileComesInEitherForm) {
  EXPECT_EQ(Parse("setup.exe /S /log=C:\\logs\\a.log").LogFile, "C:\\logs\\a.log");
  EXPECT_EQ(Parse("setup.exe /S /LOG \"C:\\my logs\\a.log\"").LogFile, "C:\\my logs\\a.log");
  EXPECT_EQ(Parse("setup.exe -log \"C:\\a.log\" /qn").LogFile, "C:\\a.log");
  TRunSwitches logged = Parse("setup.exe silent /log C:\\a.log");
  EXPECT_EQ(logged.LogFile, "C:\\a.log");
  EXPECT_EQ(logged.InstallFolder, "");  // the log's file is not the folder
}

TEST(RunSwitchesTest, ProgramsHoldingFilesAreClosedAndRestartedOnlyWhenAsked) {
  TRunSwitches both = Parse("setup.exe /S /RestartApplications -closeapplications");
  EXPECT_EQ(both.Error, "");
  EXPECT_TRUE(both.CloseApplications);
  EXPECT_TRUE(both.RestartApplications);
  TRunSwitches none = Parse("setup.exe /S");
  EXPECT_FALSE(none.CloseApplications || none.RestartApplications);
}

TEST(RunSwitchesTest, TheScopeComesFromOneOfItsTwoSwitches) {
  EXPECT_EQ(Parse("setup.exe /S").Scope, TScopeSwitch::None);
  EXPECT_EQ(Parse("setup.exe /S /AllUsers").Scope, TScopeSwitch::AllUsers);
  EXPECT_EQ(Parse("setup.exe -currentuser /S").Scope, TScopeSwitch::CurrentUser);
  EXPECT_EQ(Parse("setup.exe /currentuser /currentuser").Error, "");
  EXPECT_EQ(Parse("setup.exe /currentuser /allusers").Error, "Параметры /allusers и /currentuser несовместимы.");
  // After "silent" they are switches, not the folder.
  TRunSwitches after_silent = Parse("setup.exe silent /allusers");
  EXPECT_EQ(after_silent.Error, "");
  EXPECT_EQ(after_silent.InstallFolder, "");
  EXPECT_EQ(after_silent.Scope, TScopeSwitch::AllUsers);
}

TEST(RunSwitchesTest, TheElevatedRunReadsTheUsersCommandLineAfterItsMark) {
  TRunSwitches elevated = Parse("setup.exe /elevated silent C:\\App");
  EXPECT_EQ(elevated.Error, "");
  EXPECT_TRUE(elevated.ElevatedRelaunch);
  EXPECT_TRUE(elevated.Silent);
  EXPECT_EQ(elevated.InstallFolder, "C:\\App");
  EXPECT_FALSE(Parse("setup.exe silent C:\\App").ElevatedRelaunch);
  // Only as the first word: anywhere else it is no switch the user has.
  EXPECT_NE(Parse("setup.exe /S /elevated").Error, "");
}

TEST(RunSwitchesTest, WhatIsNotUnderstoodIsRefusedNeverTakenForAFolder) {
  for (const char* line : {"setup.exe silent C:\\App extra", "setup.exe /S C:\\App", "setup.exe /S /unknown",
                           "setup.exe silent /norestart C:\\App", "setup.exe /frobnicate", "setup.exe /S /log",
                           "setup.exe /S /log=", "setup.exe /S /DIR=C:\\a /D=C:\\b", "setup.exe silent C:\\a INSTALLDIR=C:\\b",
                           "setup.exe /S /log=a /log=b", "setup.exe create /S", "setup.exe /allusers /S /currentuser",
                           "setup.exe /S /closeapplications C:\\App", "setup.exe wizard extra", "setup.exe silent /bogus",
                           "setup.exe /S /opt/app", "setup.exe silent C:\\a /opt/app"}) {
    TRunSwitches switches = Parse(line);
    EXPECT_NE(switches.Error, "") << line;
  }
  EXPECT_NE(Parse("setup.exe /S /bogus").Error.find("/bogus"), std::string::npos);
  EXPECT_NE(Parse("setup.exe silent C:\\a stray").Error.find("stray"), std::string::npos);
}

TEST(RunSwitchesTest, TheWordsTheWindowAlwaysTookStayAsTheyWere) {
  // Parameter 1 that is no known word is ignored; "create" is compared as
  // it stands, so " create" does not offer the builder.
  EXPECT_EQ(Parse("setup.exe anything").Error, "");
  EXPECT_TRUE(Parse("setup.exe create").Create);
  EXPECT_TRUE(Parse("setup.exe CREATE").Create);
  TRunSwitches quoted = Parse("setup.exe \" create\"");
  EXPECT_EQ(quoted.Error, "");
  EXPECT_FALSE(quoted.Create);
  // A folder for the wizard to offer.
  EXPECT_EQ(Parse("setup.exe /D=C:\\Program Files\\App").InstallFolder, "C:\\Program Files\\App");
}

}  // namespace
}  // namespace volok
