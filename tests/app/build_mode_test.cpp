#include "app/build_mode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "common/app_paths.h"
#include "common/text_file.h"
#include "headless_build_fixture.h"
#include "scoped_env.h"

namespace volok {
namespace {

namespace fs = std::filesystem;

class BuildModeTest : public HeadlessBuildTest {
 protected:
  void WriteDescription(const std::string& number) {
    testing::WriteNative(FWork.Native("installer.xml"),
                         "<Installer><UpdateSource/><UpdateType/><UpdateAction/><Number>" + number +
                             "</Number><Company>c</Company><Name>n</Name><ShortName>s</ShortName>"
                             "<InstallPath>C:\\s</InstallPath><Install><File><UpdateSource>a.txt</UpdateSource><UpdateType/><UpdateAction/>"
                             "<Name>a</Name><FileName>a.txt</FileName><Action>Copy</Action><Destination>x</Destination>"
                             "<Size/><CRC32/></File></Install></Installer>");
  }
};

TEST_F(BuildModeTest, BuildsIntoOutputInstallerWithTheGivenEngineAndLogsToTheFile) {
  WriteDescription("3.1");
  EXPECT_EQ(RunBuild({"setup", " BUILD ", " engine.exe "}), 0);
  EXPECT_EQ(testing::Unsealed(testing::ReadNative(FWork.Native("output-installer") / "3.1.0.0" / "setup.exe")),
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
      {testing::StandInEngine() + kEngineMarker, kBuildCreated},
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
                       "<UpdateSource>a.txt</UpdateSource><UpdateType>File</UpdateType><UpdateAction>Copy</UpdateAction>"
                       "<Name>a</Name><FileName>a.txt</FileName><Action>CopyFile</Action><Destination>{installpath}\\{Nope}</Destination><Size/>"
                       "<CRC32/></File></Install></Installer>");
  EXPECT_EQ(RunBuild({"setup", "build", "engine.exe"}), kBuildCreated);
  EXPECT_EQ(RunBuild({"setup", "build", "engine.exe", "--STRICT"}), kBuildStrictWarnings);
  EXPECT_TRUE(fs::exists(FWork.Native("output-installer") / "2.0.0.0" / "a.txt"));
  std::string log = ReadTextFile(FWork.File("build.log"));
  // The unknown action and variable are named; the case-only difference is not a warning.
  // The entry as the user wrote it, its build kinds included.
  EXPECT_NE(log.find("Неизвестное действие \"CopyFile\": установщик пропустит эту запись. [Запись \"a\", Action "
                     "CopyFile, File/Copy, FileName a.txt, строка 1]"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Неизвестная переменная {Nope} в Destination"), std::string::npos) << log;
  EXPECT_EQ(log.find("{installpath} в"), std::string::npos) << log;
  EXPECT_EQ(RunBuild({"setup", "build", "--strictly"}), kBuildFailed);
}

TEST_F(BuildModeTest, SigningOptionsTakeFilesOnlyAndNeverAPasswordOnTheCommandLine) {
  TBuildOptions signing =
      ParseBuildOptions({"setup", "build", "engine.exe", "--SIGN", "c.pfx", "--sign-key", "k.pem", "--sign-pass-file", "p"});
  EXPECT_EQ(signing.Error, "");
  EXPECT_EQ(signing.Engine, "engine.exe");
  EXPECT_EQ(signing.Signing.Certificate, "c.pfx");
  EXPECT_EQ(signing.Signing.Key, "k.pem");
  EXPECT_EQ(signing.Signing.PasswordFile, "p");
  struct Case {
    std::vector<std::string> parameters;
    std::string error;
  } refused[] = {
      {{"setup", "build", "--sign"}, "Нет значения параметра --sign."},
      {{"setup", "build", "--sign", " ", "e.exe"}, "Нет значения параметра --sign."},
      {{"setup", "build", "--sign", "c.pem", "--sign-key", "--strict"}, "Нет значения параметра --sign-key."},
      {{"setup", "build", "--sign", "c.pem", "--sign-pass", "secret"},
       "Пароль в командной строке не принимается (его видно в списке процессов и в журналах): укажите файл с "
       "паролем в --sign-pass-file."},
      {{"setup", "build", "--sign-pass=secret"}, "Пароль в командной строке не принимается (его видно в списке "
                                                 "процессов и в журналах): укажите файл с паролем в --sign-pass-file."},
      {{"setup", "build", "--sign-key", "k.pem"}, "--sign-key и --sign-pass-file действуют только вместе с --sign."},
  };
  for (const Case& c : refused) EXPECT_EQ(ParseBuildOptions(c.parameters).Error, c.error) << c.parameters.back();
  // A refused password is not repeated in the log.
  WriteDescription("1");
  EXPECT_EQ(RunBuild({"setup", "build", "engine.exe", "--sign", "c.pem", "--sign-pass", "secret"}), kBuildFailed);
  EXPECT_EQ(ReadTextFile(FWork.File("build.log")).find("secret"), std::string::npos);
}

TEST_F(BuildModeTest, ASignatureThatCannotBeMadeStopsTheBuildBeforeAnythingIsPacked) {
  WriteDescription("1");
  testing::WriteNative(FWork.Native("c.pem"), "certificate");
  auto refused = [&](std::vector<std::string> parameters, const std::string& reason) {
    fs::remove(FWork.Native("build.log"));
    EXPECT_EQ(RunBuild(parameters), kBuildFailed) << reason;
    EXPECT_FALSE(fs::exists(FWork.Native("output-installer"))) << reason;
    std::string log = ReadTextFile(FWork.File("build.log"));
    EXPECT_NE(log.find(";[MakeUpdate] Ошибка: " + reason), std::string::npos) << log;
    EXPECT_NE(log.find(";[MakeUpdate]: Установка не создана."), std::string::npos) << log;
  };
  refused({"setup", "build", "engine.exe", "--sign", "c.pem", "--sign-key", "none.pem"},
          "Файл для подписи не найден: none.pem.");
  testing::ScopedEnv no_tool("VOLOK_OSSLSIGNCODE", FWork.File("no-such-tool.exe"));
  refused({"setup", "build", "engine.exe", "--sign", "c.pem"},
          "Подпись невозможна: программа подписи " + FWork.File("no-such-tool.exe") + " не запускается");
  // Only a Windows program takes an Authenticode signature.
  testing::WriteNative(FWork.Native("native"), std::string("\x7F" "ELF\x02\x01\x01", 7) + std::string(11, '\0') +
                                                   std::string("\x3E\0", 2) + kEngineMarker);
  refused({"setup", "build", "native", "--sign", "c.pem"}, "Файл не является программой Windows x64 или x86: native.");
}

#ifndef _WIN32
// A stand-in for osslsigncode: answers --version, and signs by appending a
// mark, or fails as the real tool does when the key file says "bad".
TEST_F(BuildModeTest, TheSignedEngineReplacesTheCopyOnlyWhenTheToolSucceeded) {
  testing::WriteNative(FWork.Native("tool"), R"(#!/bin/sh
[ "$1" = --version ] && exit 0
while [ $# -gt 0 ]; do case $1 in -in) in=$2;; -out) out=$2;; -key) key=$2;; esac; shift; done
if grep -q bad "$key"; then
  echo "Failed to read private key file: $key"; echo "40:error:80000002:system library:BIO_new_file"; exit 255
fi
cat "$in" >"$out" && printf SIGNED >>"$out"
)");
  fs::permissions(FWork.Native("tool"), fs::perms(0755));
  testing::WriteNative(FWork.Native("c.pem"), "certificate");
  testing::WriteNative(FWork.Native("k.pem"), "key");
  testing::WriteNative(FWork.Native("bad.pem"), "bad key");
  testing::ScopedEnv tool("VOLOK_OSSLSIGNCODE", FWork.File("tool"));
  WriteDescription("1");
  fs::path package = FWork.Native("output-installer") / "1.0.0.0";

  EXPECT_EQ(RunBuild({"setup", "build", "engine.exe", "--sign", "c.pem", "--sign-key", "k.pem"}), kBuildCreated);
  // Signed after it was sealed.
  const std::string shipped = testing::ReadNative(package / "setup.exe");
  EXPECT_EQ(shipped.substr(shipped.size() - 6), "SIGNED");
  EXPECT_EQ(testing::Unsealed(shipped), FakeEngine(0x8664, true));
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(package)) files.push_back(entry.path().filename().string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"a.txt", "s-1.0.0.0-setup.exe", "setup.exe", "setup.xml"}));
  // The single file is signed as a whole, and carries the bare engine
  // signed on its own (the tool marks what it signed).
  const std::string single = testing::ReadNative(package / "s-1.0.0.0-setup.exe");
  EXPECT_EQ(single.substr(single.size() - 6), "SIGNED");
  EXPECT_NE(single.find(FakeEngine(0x8664, true) + "SIGNED"), std::string::npos);

  EXPECT_EQ(RunBuild({"setup", "build", "engine.exe", "--sign", "c.pem", "--sign-key", "bad.pem"}), kBuildFailed);
  EXPECT_FALSE(fs::exists(package));
  std::string log = ReadTextFile(FWork.File("build.log"));
  EXPECT_NE(log.find(";[MakeUpdate] Ошибка: Не удалось подписать output-installer\\1.0.0.0\\setup.exe: " +
                     FWork.File("tool") + " завершилась с кодом 255: Failed to read private key file: bad.pem.\r\n"),
            std::string::npos)
      << log;
}
#endif

}  // namespace
}  // namespace volok
