#include "app/build_mode.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/app_paths.h"
#include "common/text_file.h"
#include "temp_folder.h"

namespace volok {
namespace {

namespace fs = std::filesystem;

// The headless build works in the current folder; each test moves there and
// back, and keeps the log file inside its own folder.
class BuildModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FSavedFolder = fs::current_path();
    FSavedLog = LogFileName();
    fs::current_path(FWork.NativePath());
    SetLogFileName(FWork.File("build.log"));
    testing::WriteNative(FWork.Native("engine.exe"), "engine");
    testing::WriteNative(FWork.Native("a.txt"), "payload");
  }
  void TearDown() override {
    fs::current_path(FSavedFolder);
    SetLogFileName(FSavedLog);
  }
  void WriteDescription(const std::string& number) {
    testing::WriteNative(FWork.Native("installer.xml"),
                         "<Installer><UpdateSource/><UpdateType/><UpdateAction/><Number>" + number +
                             "</Number><Company>c</Company><Name>n</Name><ShortName>s</ShortName>"
                             "<InstallPath>C:\\s</InstallPath><Install><File><UpdateSource>a.txt</UpdateSource><UpdateType/><UpdateAction/>"
                             "<Name>a</Name><FileName>a.txt</FileName><Action>Copy</Action><Destination>x</Destination>"
                             "<Size/><CRC32/></File></Install></Installer>");
  }

  testing::TempFolder FWork;
  fs::path FSavedFolder;
  std::string FSavedLog;
};

TEST_F(BuildModeTest, BuildsIntoOutputInstallerWithTheGivenEngineAndLogsToTheFile) {
  WriteDescription("3.1");
  EXPECT_EQ(RunBuild({"setup", " BUILD ", " engine.exe "}), 0);
  EXPECT_EQ(testing::ReadNative(FWork.Native("output-installer") / "3.1.0.0" / "setup.exe"), "engine");
  std::string log = ReadTextFile(FWork.File("build.log"));
  EXPECT_NE(log.find(";[MakeUpdate]: Установка создана. Предупреждений: 0\r\n"), std::string::npos) << log;
}

TEST_F(BuildModeTest, AFailedBuildExitsWithOne) {
  WriteDescription("beta");
  EXPECT_EQ(RunBuild({"setup", "build", "engine.exe"}), 1);
  EXPECT_FALSE(fs::exists(FWork.Native("output-installer")));
  WriteDescription("1");
  EXPECT_EQ(RunBuild({"setup", "build", "missing-engine.exe"}), 1);
}

}  // namespace
}  // namespace volok
