// A machine-wide run without rights asks for them by starting itself
// again elevated, once, with the user's command line; a per-user run, and
// a run that has the rights, never asks.
#include "app/elevation.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/entry.h"
#include "common/app_paths.h"
#include "common/crypt.h"
#include "common/main_thread.h"
#include "common/text_file.h"
#include "engine/installer_thread.h"
#include "platform/security.h"
#include "scoped_env.h"
#include "sealed_package.h"
#include "temp_folder.h"

namespace volok {
namespace {

namespace fs = std::filesystem;

class PromptingSecurity final : public platform::Security {
 public:
  std::string CurrentUserSid() override { return "S-1-5-21-7-8-9-1001"; }
  bool IsAdministrator() override { return Admin; }
  platform::Status RunElevated(const std::string& program, const std::string& parameters,
                               std::uint32_t& exit_code) override {
    ++Asked;
    Program = program;
    Parameters = parameters;
    if (Declines) return platform::Status::Failure("Операция отменена пользователем.");
    exit_code = 3010;
    return platform::Status::Ok();
  }
  bool Admin = false, Declines = false;
  int Asked = 0;
  std::string Program, Parameters;
};

class ElevationTest : public ::testing::Test {
 protected:
  void SetUp() override { FSaved = ExeFileName(); }
  void TearDown() override { SetExeFileName(FSaved); }

  // A sealed package of `scope` whose install would copy a file that is not
  // there: an install that runs at all fails with kExitFatal.
  void WritePackage(const std::string& scope) {
    fs::create_directories(FScratch.Native("pkg"));
    std::string xml = "<?xml version=\"1.0\"?><Installer><Company>c</Company><Name>n</Name><ShortName>elevation-test"
                      "</ShortName><InstallPath>" + FScratch.File("app") + "</InstallPath><Scope>" + scope +
                      "</Scope><Install><File><Name>n</Name><FileName>" + FScratch.File("missing.txt") +
                      "</FileName><Action>Copy2</Action><Destination>{InstallPath}\\x</Destination></File></Install>"
                      "</Installer>";
    WriteTextFile(EncryptText(xml), FScratch.File("pkg\\setup.xml"), 65001);
    testing::WriteNative(FScratch.Native("pkg/setup.exe"), "not really a program");
    SetExeFileName(FScratch.File("pkg\\setup.exe"));
    SetLogFileName(FScratch.File("pkg\\setup.log"));
    MainThreadQueue::Instance().BindToCurrentThread();
  }

  testing::TempFolder FScratch;
  testing::ScopedTempFolder FTemp{FScratch.NativePath()};
  testing::ScopedEnv FRegistry{"VOLOK_REGISTRY_DIR", FScratch.Native("registry").string()};
  testing::ScopedEnv FJournal{"VOLOK_JOURNAL_DIR", FScratch.Native("journal").string()};
  PromptingSecurity FSecurity;
  platform::ScopedDefault<platform::Security> FScope{FSecurity};
  std::string FSaved;
};

TEST_F(ElevationTest, TheElevatedRunGetsTheUsersCommandLineAfterItsMark) {
  EXPECT_EQ(ElevatedArguments({"setup.exe"}, {}), "/elevated");
  EXPECT_EQ(ElevatedArguments({"setup.exe", "/S", "/D=C:\\My App"}, {"setup.exe /S /D=C:\\My App", "/S /D=C:\\My App",
                                                                      "/D=C:\\My App"}),
            "/elevated /S /D=C:\\My App");
  EXPECT_EQ(ElevatedArguments({"setup.exe", "silent", "C:\\My App", ""}, {}), "/elevated silent \"C:\\My App\" \"\"");
}

TEST_F(ElevationTest, OnlyAMachineRunWithoutRightsAsksAndAnswersTheElevatedRunsCode) {
  SetExeFileName(FScratch.File("setup.exe"));
  int code = 0;
  std::string failure;
  EXPECT_FALSE(RunElevatedForScope(TInstallScope::User, "/S", code, failure));
  EXPECT_EQ(FSecurity.Asked, 0);
  FSecurity.Admin = true;
  EXPECT_FALSE(RunElevatedForScope(TInstallScope::Machine, "/S", code, failure));
  EXPECT_EQ(FSecurity.Asked, 0);
  FSecurity.Admin = false;
  ASSERT_TRUE(RunElevatedForScope(TInstallScope::Machine, "/elevated /S", code, failure));
  EXPECT_EQ(code, 3010);
  EXPECT_EQ(FSecurity.Program, FScratch.File("setup.exe"));
  EXPECT_EQ(FSecurity.Parameters, "/elevated /S");
  FSecurity.Declines = true;
  EXPECT_FALSE(RunElevatedForScope(TInstallScope::Machine, "/S", code, failure));
  EXPECT_EQ(failure, "Операция отменена пользователем.");
}

TEST_F(ElevationTest, AMachinePackageRunWithoutRightsContinuesElevatedOnce) {
  WritePackage("machine");
  ScopedManifestRecord sealed(testing::SealStandIn(ExeFileName()));
  EXPECT_EQ(RunProgramMain({"setup.exe", "/S", "/allusers"}), 3010);
  EXPECT_EQ(FSecurity.Asked, 1);
  EXPECT_EQ(FSecurity.Parameters, "/elevated /S /allusers");
  // The elevated run never asks again, whatever rights it got: it refuses.
  EXPECT_EQ(RunProgramMain({"setup.exe", "/elevated", "/S"}), kExitFatal);
  EXPECT_EQ(FSecurity.Asked, 1);
  const std::string log = testing::ReadNative(FScratch.Native("app/setup.log")) +
                          testing::ReadNative(FScratch.Native("pkg/setup.log"));
  EXPECT_NE(log.find(kNoRightsMessage), std::string::npos) << log;
}

TEST_F(ElevationTest, AUserPackageAndAnElevatedProcessNeverAsk) {
  WritePackage("user");
  ScopedManifestRecord sealed(testing::SealStandIn(ExeFileName()));
  // The run itself goes on (and fails on the missing file, not on rights).
  EXPECT_EQ(RunProgramMain({"setup.exe", "/S"}), kExitFatal);
  EXPECT_EQ(FSecurity.Asked, 0);
  WritePackage("machine");
  ScopedManifestRecord resealed(testing::SealStandIn(ExeFileName()));
  FSecurity.Admin = true;
  EXPECT_EQ(RunProgramMain({"setup.exe", "/S"}), kExitFatal);
  EXPECT_EQ(FSecurity.Asked, 0);
  // A declined prompt leaves the run to refuse for want of rights.
  FSecurity.Admin = false;
  FSecurity.Declines = true;
  EXPECT_EQ(RunProgramMain({"setup.exe", "/S"}), kExitFatal);
  EXPECT_EQ(FSecurity.Asked, 1);
}

TEST_F(ElevationTest, AScopeSwitchAgainstTheDescriptionExits1639) {
  WritePackage("user");
  ScopedManifestRecord sealed(testing::SealStandIn(ExeFileName()));
  FSecurity.Admin = true;
  EXPECT_EQ(RunProgramMain({"setup.exe", "/S", "/allusers"}), kExitBadCommandLine);
  EXPECT_NE(testing::ReadNative(FScratch.Native("pkg/setup.log")).find("Параметр /allusers противоречит описанию"),
            std::string::npos);
}

}  // namespace
}  // namespace volok
