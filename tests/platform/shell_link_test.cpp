// Shortcut files: ours are read by lnkinfo (natively) and by the shell's own
// link object (under Wine, where the shell writes them too).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "platform/shell.h"
#include "temp_folder.h"

namespace volok::platform {
namespace {

TEST(ShellLinkTest, WritesALinkFile) {
  volok::testing::TempFolder folder;
  bool saved = false;
  std::string link = folder.File("Программа.lnk");
  ASSERT_TRUE(Shell::Default()
                  .CreateShellLink(link, "C:\\App Dir\\app.exe", "-min \"x y\"", "C:\\App Dir\\", saved)
                  .ok());
  EXPECT_TRUE(saved);
  std::string bytes = volok::testing::ReadNative(folder.Native("Программа.lnk"));
  ASSERT_GE(bytes.size(), 0x4Cu);
  EXPECT_EQ(bytes[0], 0x4C);
  // Saving into a folder that does not exist fails quietly.
  EXPECT_TRUE(Shell::Default().CreateShellLink(folder.File("no\\such.lnk"), "C:\\a.exe", "", "C:\\", saved).ok());
  EXPECT_FALSE(saved);
}

#ifndef _WIN32
std::string LnkInfo(const std::filesystem::path& path) {
  std::string command = "lnkinfo '" + path.string() + "' 2>&1";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    pclose(pipe);
  }
  return output;
}

TEST(ShellLinkTest, LnkinfoReadsTargetArgumentsAndWorkingFolder) {
  volok::testing::TempFolder folder;
  struct Case {
    std::string program, arguments, working;
  } cases[] = {
      {"C:\\App\\app.exe", "-min", "C:\\App\\"},
      {"C:\\Программы\\Ёж\\ёж.exe", "", "C:\\Программы\\Ёж\\"},
      {"Z:\\opt\\demo\\run.exe", "--a \"b c\"", ""},
  };
  int i = 0;
  for (const Case& c : cases) {
    auto native = folder.NativePath() / ("l" + std::to_string(i++) + ".lnk");
    std::ofstream(native, std::ios::binary) << ShellLinkBytes(c.program, c.arguments, c.working);
    std::string info = LnkInfo(native);
    EXPECT_NE(info.find("Local path\t\t\t: " + c.program), std::string::npos) << info;
    if (!c.arguments.empty()) {
      EXPECT_NE(info.find("Command line arguments\t\t: " + c.arguments), std::string::npos) << info;
    }
    if (!c.working.empty()) {
      EXPECT_NE(info.find("Working directory\t\t: " + c.working), std::string::npos) << info;
    }
  }
}
#endif

}  // namespace
}  // namespace volok::platform
