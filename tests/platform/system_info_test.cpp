// Special folders and the user's identity, natively and under Wine.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/security.h"
#include "platform/shell.h"
#include "temp_folder.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace volok::platform {
namespace {

TEST(SidTextTest, DecimalAndHexadecimalAuthorities) {
  const std::uint8_t nt[6] = {0, 0, 0, 0, 0, 5};
  EXPECT_EQ(FormatSid(1, nt, {21, 1, 2, 3, 1001}), "S-1-5-21-1-2-3-1001");
  EXPECT_EQ(FormatSid(1, nt, {4294967295u}), "S-1-5-4294967295");
  EXPECT_EQ(FormatSid(1, nt, {}), "S-1-5");
  // Bytes 3 to 6 form one big-endian number.
  const std::uint8_t wide[6] = {0, 0, 0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(FormatSid(1, wide, {7}), "S-1-305419896-7");
  // A non-zero first or second byte switches to the 0x form, upper case.
  const std::uint8_t high[6] = {0x01, 0, 0, 0, 0xAB, 0x05};
  EXPECT_EQ(FormatSid(1, high, {1}), "S-1-0x01000000AB05-1");
  const std::uint8_t second[6] = {0, 0x0C, 0, 0, 0, 0};
  EXPECT_EQ(FormatSid(1, second, {}), "S-1-0x000C00000000");
}

TEST(SecurityTest, CurrentUserHasASid) {
  std::string sid = Security::Default().CurrentUserSid();
#ifdef _WIN32
  EXPECT_EQ(sid.rfind("S-1-5-21-", 0), 0u) << sid;
#else
  EXPECT_EQ(sid, "S-1-22-1-" + std::to_string(getuid()));
  EXPECT_EQ(Security::Default().IsAdministrator(), geteuid() == 0);
#endif
}

TEST(ShellTest, SpecialFoldersHaveNoTrailingDelimiter) {
  Shell& shell = Shell::Default();
  for (SpecialFolderId id : {SpecialFolderId::DesktopDirectory, SpecialFolderId::AppData,
                             SpecialFolderId::LocalAppData, SpecialFolderId::ProgramFiles}) {
    std::string path = shell.SpecialFolder(id);
    ASSERT_FALSE(path.empty()) << static_cast<int>(id);
    EXPECT_NE(path.back(), '\\') << path;
    EXPECT_EQ(path.find('/'), std::string::npos) << path;
  }
#ifdef _WIN32
  EXPECT_EQ(shell.SpecialFolder(SpecialFolderId::ProgramFiles), "C:\\Program Files");
  EXPECT_EQ(shell.SpecialFolder(SpecialFolderId::Windows), "C:\\windows");
#else
  EXPECT_EQ(shell.SpecialFolder(SpecialFolderId::ProgramFiles), "Z:\\opt");
  EXPECT_EQ(shell.SpecialFolder(SpecialFolderId::Windows), "");
#endif
}

#ifndef _WIN32
class XdgFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    FOldConfig = old ? old : "";
    FHadConfig = old != nullptr;
    setenv("XDG_CONFIG_HOME", FFolder.NativePath().c_str(), 1);
  }
  void TearDown() override {
    if (FHadConfig)
      setenv("XDG_CONFIG_HOME", FOldConfig.c_str(), 1);
    else
      unsetenv("XDG_CONFIG_HOME");
  }

  volok::testing::TempFolder FFolder;
  std::string FOldConfig;
  bool FHadConfig = false;
};

TEST_F(XdgFolderTest, UserFoldersComeFromUserDirs) {
  volok::testing::WriteNative(FFolder.Native("user-dirs.dirs"),
                              "# written by xdg-user-dirs-update\n"
                              "XDG_DESKTOP_DIR=\"$HOME/Рабочий стол\"\n"
                              "XDG_DOCUMENTS_DIR=\"/srv/docs\"\n");
  std::string home = std::getenv("HOME");
  std::string expected = "Z:" + home + "/Рабочий стол";
  for (char& c : expected)
    if (c == '/') c = '\\';
  EXPECT_EQ(Shell::Default().SpecialFolder(SpecialFolderId::DesktopDirectory), expected);
  EXPECT_EQ(Shell::Default().SpecialFolder(SpecialFolderId::Personal), "Z:\\srv\\docs");
  EXPECT_EQ(Shell::Default().SpecialFolder(SpecialFolderId::AppData), FFolder.Path());
}
#endif

}  // namespace
}  // namespace volok::platform
