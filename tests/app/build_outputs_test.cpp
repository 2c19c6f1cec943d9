// The headless build's outputs for tools: the --json report and the winget
// manifest, checked by Python's own json, hashlib and jsonschema (with
// winget's published schemas) so that nothing here vouches for itself.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "app/build_mode.h"
#include "builder/build_report.h"
#include "common/app_paths.h"
#include "common/crypt.h"
#include "common/text_file.h"
#include "headless_build_fixture.h"

namespace volok {
namespace {

namespace fs = std::filesystem;

#ifndef _WIN32
// Runs a command; answers its exit status and puts its output in `output`.
int RunCommand(const std::string& command, std::string& output) {
  output.clear();
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

class BuildOutputsTest : public HeadlessBuildTest {
 protected:
  void SetUp() override {
    HeadlessBuildTest::SetUp();
    std::filesystem::create_directories(FWork.Native("data/sub"));
    testing::WriteNative(FWork.Native("data/sub/b.txt"), std::string(5000, 'b'));
  }
  // Two entries (the second with an unknown action on line 3), an
  // UnInstall entry with an unknown variable on line 5, and `extra` at the
  // end of the root.
  void WriteDescription(const std::string& extra) {
    testing::WriteNative(
        FWork.Native("installer.xml"),
        "<Installer><UpdateSource/><UpdateType/><UpdateAction/><Number>2.1.0.7</Number><Company>Volok Software"
        "</Company><Name>Demo \"Двойник\"</Name><ShortName>VolokDemo</ShortName><URL>https://volok.example/demo</URL>"
        "<InstallPath>{ProgramFiles}\\Demo</InstallPath><Install>\n"
        "<File><UpdateSource>a.txt</UpdateSource><UpdateType/><UpdateAction/><Name>a</Name><FileName>a.txt"
        "</FileName><Action>Copy</Action><Destination>{InstallPath}</Destination><Size/><CRC32/></File>\n"
        "<File><UpdateSource>data</UpdateSource><UpdateType>Folder</UpdateType><UpdateAction>Zip</UpdateAction>"
        "<Name>data</Name><FileName>data.zip</FileName><Action>UnZipp</Action><Destination>{InstallPath}</Destination>"
        "<Size/><CRC32/></File>\n</Install><UnInstall>\n"
        "<File><Name>u</Name><FileName>{InstallPath}\\{Gone}</FileName><Action>DeleteFile</Action><Destination>-"
        "</Destination></File>\n</UnInstall>" +
            extra + "</Installer>");
  }
  std::string Package() const { return FWork.File("output-installer") + "\\2.1.0.7"; }
  fs::path PackageNative() const { return FWork.Native("output-installer") / "2.1.0.7"; }
  // The report checked against the package: its summary line, or why not.
  std::string CheckedReport(const std::string& report) {
    std::string output;
    int status = RunCommand("python3 " + Quote(std::string(VOLOK_TESTS_DIR) + "/app/check_report.py") + " " +
                         Quote(FWork.Native(report).string()) + " " + Quote(PackageNative().string()),
                     output);
    return status == 0 ? output : "exit " + std::to_string(status) + ": " + output;
  }

  // The winget schemas' verdict on the manifests in `folder`: "" when valid.
  std::string ValidatedWinget(const std::string& folder) {
    std::string output;
    int status = RunCommand("python3 " + Quote(std::string(VOLOK_TESTS_DIR) + "/app/validate_winget.py") + " " +
                                Quote(FWork.Native(folder).string()) + " " + Quote(VOLOK_WINGET_SCHEMAS),
                            output);
    return status == 0 ? output : "exit " + std::to_string(status) + ": " + output;
  }

};

TEST_F(BuildOutputsTest, TheJsonReportListsTheOutcomeTheWarningsAndEveryFileWithItsSha256) {
  WriteDescription("");
  ASSERT_EQ(RunBuild({"setup", "build", "engine.exe", "--json", "report.json"}), kBuildCreated);
  EXPECT_EQ(CheckedReport("report.json"),
            "status=created-with-warnings;exit=0;warnings=2;listed=2;"
            "entries=Install:2:data:UnZipp:3,UnInstall:1:u:DeleteFile:5\n");
  EXPECT_EQ(RunBuild({"setup", "build", "engine.exe", "--strict", "--json", "strict.json"}), kBuildStrictWarnings);
  EXPECT_EQ(CheckedReport("strict.json").substr(0, 36), "status=strict-warnings;exit=2;warnin");

  // A failed build says why and lists nothing.
  testing::WriteNative(FWork.Native("installer.xml"), "<Installer/>");
  ASSERT_EQ(RunBuild({"setup", "build", "engine.exe", "--json", "failed.json"}), kBuildFailed);
  std::string failed = testing::ReadNative(FWork.Native("failed.json"));
  EXPECT_NE(failed.find("\"status\": \"failed\""), std::string::npos) << failed;
  EXPECT_NE(failed.find("\"error\": \"Ошибка разбора xml-документа с описанием версии. Нет описания получения"),
            std::string::npos)
      << failed;
  EXPECT_NE(failed.find("\"files\": []"), std::string::npos) << failed;
  // So does a refused command line, when the report's file was named.
  ASSERT_EQ(RunBuild({"setup", "build", "--json", "bad.json", "--nope"}), kBuildFailed);
  EXPECT_NE(testing::ReadNative(FWork.Native("bad.json")).find("Неизвестный параметр: --nope."), std::string::npos);
}

TEST_F(BuildOutputsTest, TheWingetManifestValidatesAndCarriesTheFinalInstallersHash) {
  if (std::string(VOLOK_WINGET_SCHEMAS).empty()) GTEST_SKIP() << "winget schemas not found (VOLOK_WINGET_SCHEMAS)";
  WriteDescription("<Winget><License>MIT</License><ShortDescription>Демонстрация</ShortDescription></Winget>");
  ASSERT_EQ(RunBuild({"setup", "build", "engine.exe", "--json", "report.json", "--winget", "winget", "--winget-url",
                      "https://volok.example/2.1.0.7/setup.exe"}),
            kBuildCreated);
  EXPECT_EQ(ValidatedWinget("winget"), "");
  const std::string installer = testing::ReadNative(FWork.Native("winget/VolokSoftware.VolokDemo.installer.yaml"));
  // The one file winget downloads is the single file.
  EXPECT_NE(installer.find("InstallerSha256: \"" + FileSha256(Package() + "\\VolokDemo-2.1.0.7-setup.exe") + "\""),
            std::string::npos)
      << installer;
  EXPECT_NE(installer.find("ProductCode: \"VolokDemo\""), std::string::npos) << installer;
  EXPECT_NE(installer.find("  InstallLocation: \"/D=<INSTALLPATH>\""), std::string::npos) << installer;
  EXPECT_NE(installer.find("- InstallerReturnCode: 1638\n  ReturnResponse: downgrade\n"), std::string::npos);
  EXPECT_NE(installer.find("- DisplayName: \"Demo \\\"Двойник\\\"\"\n"), std::string::npos) << installer;
  const std::string locale = testing::ReadNative(FWork.Native("winget/VolokSoftware.VolokDemo.locale.ru-RU.yaml"));
  EXPECT_NE(locale.find("License: \"MIT\""), std::string::npos) << locale;
  // The description's own element stays out of the package.
  EXPECT_EQ(DecryptText(ReadTextFile(Package() + "\\setup.xml")).find("Winget"), std::string::npos);
  // The manifest's files are no part of the package; the report's two
  // warnings are the description's.
  EXPECT_EQ(CheckedReport("report.json").substr(0, 48), "status=created-with-warnings;exit=0;warnings=2;l");
}

TEST_F(BuildOutputsTest, TheWingetScopeFollowsTheDescriptionAndEitherGivesAnInstallerPerScope) {
  if (std::string(VOLOK_WINGET_SCHEMAS).empty()) GTEST_SKIP() << "winget schemas not found (VOLOK_WINGET_SCHEMAS)";
  const std::string url = "https://volok.example/2.1.0.7/setup.exe";
  WriteDescription("<Scope>user</Scope>");
  ASSERT_EQ(RunBuild({"setup", "build", "engine.exe", "--winget", "user", "--winget-url", url}), kBuildCreated);
  EXPECT_EQ(ValidatedWinget("user"), "");
  const std::string user = testing::ReadNative(FWork.Native("user/VolokSoftware.VolokDemo.installer.yaml"));
  EXPECT_NE(user.find("\nScope: user\n"), std::string::npos) << user;
  // A per-user run asks for no rights.
  EXPECT_EQ(user.find("ElevationRequirement"), std::string::npos) << user;
  EXPECT_NE(DecryptText(ReadTextFile(Package() + "\\setup.xml")).find("<Scope>user</Scope>"), std::string::npos);

  WriteDescription("<Scope>Either</Scope>");
  ASSERT_EQ(RunBuild({"setup", "build", "engine.exe", "--winget", "either", "--winget-url", url}), kBuildCreated);
  EXPECT_EQ(ValidatedWinget("either"), "");
  const std::string either = testing::ReadNative(FWork.Native("either/VolokSoftware.VolokDemo.installer.yaml"));
  EXPECT_EQ(either.find("\nScope:"), std::string::npos) << either;
  EXPECT_NE(either.find("- Architecture: x64\n  Scope: user\n"), std::string::npos) << either;
  EXPECT_NE(either.find("  Scope: machine\n"), std::string::npos) << either;
  EXPECT_NE(either.find("    Silent: /S /currentuser\n"), std::string::npos) << either;
  EXPECT_NE(either.find("    SilentWithProgress: /passive /allusers\n"), std::string::npos) << either;
  EXPECT_NE(either.find("/allusers\n    Silent"), std::string::npos) << either;
  EXPECT_NE(either.find("  ElevationRequirement: elevatesSelf\n"), std::string::npos) << either;

  // A scope no run would accept fails the build before anything is packed.
  WriteDescription("<Scope>everyone</Scope>");
  EXPECT_EQ(RunBuild({"setup", "build", "engine.exe"}), kBuildFailed);
  EXPECT_NE(ReadTextFile(FWork.File("build.log")).find("Недопустимая область установки (Scope): \"everyone\""),
            std::string::npos);
}

TEST_F(BuildOutputsTest, AManifestWithoutAnInstallerUrlGetsAPlaceholderAndAWarning) {
  if (std::string(VOLOK_WINGET_SCHEMAS).empty()) GTEST_SKIP() << "winget schemas not found (VOLOK_WINGET_SCHEMAS)";
  WriteDescription("");
  ASSERT_EQ(RunBuild({"setup", "build", "engine.exe", "--winget", "winget", "--strict", "--json", "r.json"}),
            kBuildStrictWarnings);
  EXPECT_EQ(ValidatedWinget("winget"), "");
  const std::string log = ReadTextFile(FWork.File("build.log"));
  EXPECT_NE(log.find("[MakeInstall] Предупреждение: Не задан адрес установщика для winget; в манифесте заглушка "
                     "https://example.invalid/VolokSoftware.VolokDemo/2.1.0.7/VolokDemo-2.1.0.7-setup.exe"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("[MakeInstall] Предупреждение: Не задана лицензия для winget"), std::string::npos);
  EXPECT_EQ(CheckedReport("r.json").substr(0, 41), "status=strict-warnings;exit=2;warnings=4;");
  // Only a Windows engine makes a winget package, and the URL needs it.
  testing::WriteNative(FWork.Native("native"), std::string("\x7F" "ELF\x02\x01\x01", 7) + std::string(11, '\0') +
                                                   std::string("\x3E\0", 2) + kEngineMarker);
  EXPECT_EQ(RunBuild({"setup", "build", "native", "--winget", "w2"}), kBuildFailed);
  EXPECT_EQ(RunBuild({"setup", "build", "engine.exe", "--winget-url", "https://x.test/s.exe"}), kBuildFailed);
  EXPECT_FALSE(fs::exists(FWork.Native("w2")));
}
#endif

}  // namespace
}  // namespace volok
