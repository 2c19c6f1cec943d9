// The self-delete batch: cmd runs it under Wine, the POSIX layer's own runner
// natively; both must leave the same result.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/runtime.h"
#include "temp_folder.h"

#ifndef _WIN32
#include <sys/wait.h>

#include "platform/posix/batch_script.h"
#endif

namespace volok::platform {
namespace {

using testing::ReadNative;
using testing::TempFolder;
using testing::WriteNative;
namespace fs = std::filesystem;

// Waits (bounded) until `path` is gone: the batch runs detached.
bool AwaitGone(const fs::path& path, int seconds = 30) {
  for (int i = 0; i < seconds * 20; ++i) {
    if (!fs::exists(fs::symlink_status(path))) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

class BatchTest : public ::testing::Test {
 protected:
  // Writes the batch (CR LF lines, ASCII) and starts it in the scratch folder.
  bool Start(const std::string& lines) {
    std::string text;
    for (char c : lines) text += c == '\n' ? std::string("\r\n") : std::string(1, c);
    WriteNative(FTemp.Native("run.bat"), text);
    return StartBatch(FTemp.File("run.bat"), FTemp.Path());
  }
  std::string Quoted(const std::string& name) const { return "\"" + FTemp.File(name) + "\""; }

  TempFolder FTemp;
};

// The shape of a self-delete batch that copes with a slow exit: retry the
// delete for a bounded time, with a read-only copy and odd characters.
TEST_F(BatchTest, ARetryLoopDeletesReadOnlyFilesAndOddNamesThenTheBatch) {
  for (const char* name : {"copy.exe", "copy.xml", "a b&(c)!^%x.txt", "stays.txt"}) WriteNative(FTemp.Native(name), "x");
  fs::permissions(FTemp.Native("copy.exe"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  fs::create_directory(FTemp.Native("folder"));
  fs::create_directory(FTemp.Native("busy"));  // a "file" that del cannot remove: the loop must end on its own
  ASSERT_TRUE(Start("@echo off\n"
                    "set n=0\n"
                    ":retry\n"
                    "@del /f /q " + Quoted("copy.exe") + " " + Quoted("busy") + " > nul 2>&1\n"
                    "@if not exist " + Quoted("busy") + " goto done\n"
                    "@set /a n+=1\n"
                    "@if %n% geq 3 goto done\n"
                    "@if exist " + Quoted("copy.exe") + " (ping -n 1 127.0.0.1 > nul & goto retry) else (goto retry)\n"
                    ":done\n"
                    "@del " + Quoted("copy.xml") + "\n"
                    "@del \"" + FTemp.File("a b&(c)!^%%x.txt") + "\"\n"
                    "@rmdir " + Quoted("folder") + "\n"
                    "@del \"%~f0\"\n"));
  ASSERT_TRUE(AwaitGone(FTemp.Native("run.bat")));
  EXPECT_FALSE(fs::exists(FTemp.Native("copy.exe")));
  EXPECT_FALSE(fs::exists(FTemp.Native("copy.xml")));
  EXPECT_FALSE(fs::exists(FTemp.Native("a b&(c)!^%x.txt")));
  EXPECT_FALSE(fs::exists(FTemp.Native("folder")));
  EXPECT_TRUE(fs::exists(FTemp.Native("busy")));
  EXPECT_TRUE(fs::exists(FTemp.Native("stays.txt")));
}

#ifndef _WIN32
// Native names may hold a double quote, which no Windows name can: the runner
// must not cut the path there and delete something else.
TEST_F(BatchTest, AQuoteInsideAPathIsPartOfThePath) {
  fs::create_directory(FTemp.Native("a\"b"));
  fs::create_directory(FTemp.Native("c\" d"));
  WriteNative(FTemp.Native("a\"b") / "copy.exe", "x");
  WriteNative(FTemp.Native("c\" d") / "copy.exe", "x");
  WriteNative(FTemp.Native("a"), "unrelated");
  WriteNative(FTemp.Native("c"), "unrelated");
  ASSERT_TRUE(Start("@del \"" + FTemp.File("a\"b\\copy.exe") + "\"\n" +
                    "@if exist \"" + FTemp.File("c\"\" d\\copy.exe") + "\" del \"" + FTemp.File("c\"\" d\\copy.exe") + "\"\n" +
                    "@rmdir \"" + FTemp.File("a\"b") + "\"\n@del \"%~f0\"\n"));
  ASSERT_TRUE(AwaitGone(FTemp.Native("run.bat")));
  EXPECT_FALSE(fs::exists(FTemp.Native("a\"b")));
  EXPECT_FALSE(fs::exists(FTemp.Native("c\" d") / "copy.exe"));
  EXPECT_EQ(ReadNative(FTemp.Native("a")), "unrelated");
  EXPECT_EQ(ReadNative(FTemp.Native("c")), "unrelated");
}

// A batch the runner cannot run as cmd would is not started at all: half a
// batch could delete the copy and leave what the rest was to clean up.
TEST_F(BatchTest, ABatchBeyondTheUnderstoodCommandsRunsNothing) {
  WriteNative(FTemp.Native("x"), "x");
  for (const std::string& line : {std::string("@format q:"), std::string("@del \"%NO_SUCH_VARIABLE%\\x\""),
                                   std::string("@del ") + Quoted("*"), std::string("@goto nowhere"),
                                   std::string("@type x | more")}) {
    EXPECT_FALSE(Start("@del " + Quoted("x") + "\n" + line + "\n")) << line;
    EXPECT_TRUE(fs::exists(FTemp.Native("x"))) << line;
  }
}

// Runs a translated batch with /bin/sh and answers its exit status (124 when
// it had to be stopped).
int RunScript(const std::string& batch, const TempFolder& folder) {
  std::string script, error;
  if (!posix::BatchToShell(batch, folder.File("t.bat"), 65001, script, error)) return -1;
  WriteNative(folder.Native("t.sh"), script);
  int status = std::system(("timeout 20 /bin/sh " + folder.Native("t.sh").string()).c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

TEST_F(BatchTest, EndlessLoopsAndLongWaitsEndWithinTheBound) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunScript(":a\r\n@goto a\r\n", FTemp), 0);
  EXPECT_EQ(RunScript(":a\r\n@if exist \"/\" (goto a)\r\n", FTemp), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  std::string script, error;
  ASSERT_TRUE(posix::BatchToShell("@timeout /t 3600 /nobreak\r\n", "Z:\\t.bat", 65001, script, error));
  EXPECT_NE(script.find("nap 60001"), std::string::npos);  // past the budget: ends instead of waiting
}

// Lines after "chcp 65001" are UTF-8, lines before it in the given code page.
TEST_F(BatchTest, ChcpSwitchesTheCodePageOfTheLinesAfterIt) {
  std::string script, error;
  ASSERT_TRUE(posix::BatchToShell("@del \"Z:\\\xC4\xE5\xEC\xEE\"\r\n@chcp 65001 > nul\r\n@del \"Z:\\Демо\"\r\n", "Z:\\t.bat",
                                  1251, script, error))
      << error;
  std::size_t first = script.find("rm -f -- '/Демо'");
  ASSERT_NE(first, std::string::npos) << script;
  EXPECT_NE(script.find("rm -f -- '/Демо'", first + 1), std::string::npos) << script;
}
#endif

}  // namespace
}  // namespace volok::platform
