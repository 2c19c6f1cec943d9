#include "app/build_mode.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/app_paths.h"
#include "common/text_file.h"
#include "temp_folder.h"

namespace volok {
extern const char kEngineMarker[];
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
    testing::WriteNative(FWork.Native("engine.exe"), FakeEngine(0x8664, true));
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

  // The smallest file that passes for a Windows program: "MZ", the offset
  // of "PE\0\0" at 0x3C, the machine after it, and maybe the engine's mark.
  static std::string FakeEngine(unsigned machine, bool marked) {
    std::string bytes(0x80, '\0');
    bytes[0] = 'M', bytes[1] = 'Z', bytes[0x3C] = 0x40;
    bytes.replace(0x40, 4, std::string("PE\0\0", 4));
    bytes[0x44] = static_cast<char>(machine & 0xFF), bytes[0x45] = static_cast<char>(machine >> 8);
    return marked ? bytes + kEngineMarker : bytes;
  }

  testing::TempFolder FWork;
  fs::path FSavedFolder;
  std::string FSavedLog;
};

TEST_F(BuildModeTest, BuildsIntoOutputInstallerWithTheGivenEngineAndLogsToTheFile) {
  WriteDescription("3.1");
  EXPECT_EQ(RunBuild({"setup", " BUILD ", " engine.exe "}), 0);
  EXPECT_EQ(testing::ReadNative(FWork.Native("output-installer") / "3.1.0.0" / "setup.exe"),
            FakeEngine(0x8664, true));
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

TEST_F(BuildModeTest, OnlyThisEnginesWindowsBuildIsShippedAndNothingIsPackedBeforeTheCheck) {
  WriteDescription("1");
  struct Case {
    std::string bytes;
    int exit_code;
  } cases[] = {
      {FakeEngine(0x14C, true), kBuildCreated},   // x86
      {FakeEngine(0x8664, false), kBuildFailed},  // another program
      {FakeEngine(0xAA64, true), kBuildFailed},   // ARM64
      {"#!/bin/sh\n" + std::string(kEngineMarker), kBuildFailed},
      // The native build (ELF x86-64) of this engine, and another ELF program.
      {std::string("\x7F" "ELF\x02\x01\x01", 7) + std::string(11, '\0') + std::string("\x3E\0", 2) + kEngineMarker,
       kBuildCreated},
      {std::string("\x7F" "ELF\x02\x01\x01", 7) + std::string(11, '\0') + std::string("\x3E\0", 2) + "other",
       kBuildFailed},
  };
  for (const Case& c : cases) {
    fs::remove_all(FWork.Native("output-installer"));
    testing::WriteNative(FWork.Native("other.exe"), c.bytes);
    EXPECT_EQ(RunBuild({"setup", "build", "other.exe"}), c.exit_code);
    EXPECT_EQ(fs::exists(FWork.Native("output-installer")), c.exit_code == kBuildCreated);
  }
  EXPECT_NE(CheckEngineFile(FWork.File("missing.exe")).find("missing.exe"), std::string::npos);
}

TEST_F(BuildModeTest, StrictBuildsFailWithTheirOwnCodeOnAnyWarningButStillMakeThePackage) {
  WriteDescription("1");
  EXPECT_EQ(RunBuild({"setup", "build", "--strict", "engine.exe"}), kBuildCreated);
  testing::WriteNative(FWork.Native("installer.xml"),
                       "<Installer><UpdateSource/><UpdateType/><UpdateAction/><Number>2</Number><Company>c</Company>"
                       "<Name>n</Name><ShortName>s</ShortName><InstallPath>C:\\s</InstallPath><Install><File>"
                       "<UpdateSource>a.txt</UpdateSource><UpdateType/><UpdateAction/><Name>a</Name><FileName>a.txt"
                       "</FileName><Action>CopyFile</Action><Destination>{installpath}\\{Nope}</Destination><Size/>"
                       "<CRC32/></File></Install></Installer>");
  EXPECT_EQ(RunBuild({"setup", "build", "engine.exe"}), kBuildCreated);
  EXPECT_EQ(RunBuild({"setup", "build", "engine.exe", "--STRICT"}), kBuildStrictWarnings);
  EXPECT_TRUE(fs::exists(FWork.Native("output-installer") / "2.0.0.0" / "a.txt"));
  std::string log = ReadTextFile(FWork.File("build.log"));
  // The unknown action and variable are named; the case-only difference is not a warning.
  EXPECT_NE(log.find("Неизвестное действие \"CopyFile\""), std::string::npos) << log;
  EXPECT_NE(log.find("Неизвестная переменная {Nope} в Destination"), std::string::npos) << log;
  EXPECT_EQ(log.find("{installpath} в"), std::string::npos) << log;
  EXPECT_EQ(RunBuild({"setup", "build", "--strictly"}), kBuildFailed);
}

}  // namespace
}  // namespace volok
