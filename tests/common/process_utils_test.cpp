// Starting, waiting for and ending programs, with this test binary copied
// into temporary folders as the child program (see process_child.cpp).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "common/process_utils.h"
#include "common/text.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/runtime.h"
#include "temp_folder.h"

namespace volok {
namespace {

using testing::ReadNative;
using testing::TempFolder;
namespace fs = std::filesystem;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

fs::path NativeOf(const std::string& windows_path) {
#ifdef _WIN32
  return fs::path(Utf8ToUtf16(windows_path));
#else
  std::string native = windows_path.substr(2);  // "Z:" is the root
  for (char& c : native)
    if (c == '\\') c = '/';
  return native;
#endif
}

// How many running processes have `path` as their executable.
int RunningFrom(const std::string& path) {
  platform::Processes& processes = platform::Processes::Default();
  std::vector<platform::ProcessEntry> entries;
  if (!processes.List(entries).ok()) return -1;
  int count = 0;
  for (const auto& entry : entries) {
    std::unique_ptr<platform::Process> process;
    std::string executable;
    if (processes.Open(entry.Id, process).ok() && process->ExecutablePath(executable).ok() &&
        SameText(executable, path))
      ++count;
  }
  return count;
}

// Waits until `count` processes run from `path`: a started Windows process
// reports its module only once the loader has run.
bool AwaitRunning(const std::string& path, int count) {
  for (int i = 0; i < 200; ++i) {
    if (RunningFrom(path) == count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

class ProcessUtilsTest : public ::testing::Test {
 protected:
  // A copy of this binary at `folder`\child.exe (a name Windows will run).
  std::string Child(const std::string& folder) {
    fs::create_directories(FTemp.Native(folder));
    std::string path = FTemp.File(folder + "\\child.exe");
    fs::copy_file(NativeOf(platform::ExecutablePath()), NativeOf(path));
    return path;
  }
  std::string Sleeper(const std::string& child) { return Quoted(child) + " --volok-child sleep"; }

  TempFolder FTemp;
};

TEST_F(ProcessUtilsTest, AMissingProgramOrAnEmptyWorkingFolderFailsTheStart) {
  EXPECT_FALSE(RunProgram(Quoted(FTemp.File("missing.exe")), FTemp.Path()));
  EXPECT_FALSE(RunProgramAndWait(Quoted(FTemp.File("missing.exe")), FTemp.Path(), kInfinite));
  EXPECT_FALSE(RunProgram("", FTemp.Path()));
  std::string child = Child("c");
  std::string out = NativeOf(FTemp.File("out.txt")).string();
  EXPECT_FALSE(RunProgramAndWait(Quoted(child) + " --volok-child write " + Quoted(out) + " 0", "", kInfinite));
  EXPECT_FALSE(RunProgramAndWait(Quoted(child) + " --volok-child write " + Quoted(out) + " 0",
                                 FTemp.File("no such folder"), kInfinite));
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(ProcessUtilsTest, WaitReturnsAfterTheProgramEndedInItsFolderWithItsArguments) {
  std::string child = Child("my programs");
  fs::create_directory(FTemp.Native("work"));
  std::string out = NativeOf(FTemp.File("out.txt")).string();
  std::string line = Quoted(child) + " --volok-child write " + Quoted(out) + " 300 \"two words\" a\\\\\\\"b";
  ASSERT_TRUE(RunProgramAndWait(line, FTemp.File("work"), kInfinite));
  // The file is written just before the child exits with code 3.
  std::string expected_folder = fs::canonical(FTemp.Native("work")).string();
  EXPECT_EQ(ReadNative(out), expected_folder + "\ntwo words\na\\\"b\n");
}

TEST_F(ProcessUtilsTest, AWaitThatTimesOutAnswersFalse) {
  std::string child = Child("t");
  EXPECT_FALSE(RunProgramAndWait(Sleeper(child), FTemp.Path(), 200));
  EXPECT_TRUE(TerminateProcessesByPath(child, 10000));
  EXPECT_TRUE(AwaitRunning(child, 0));
}

TEST_F(ProcessUtilsTest, TerminateEndsOnlyTheProcessesOfThatPath) {
  std::string first = Child("a"), second = Child("b");
  ASSERT_TRUE(RunProgram(Sleeper(first), FTemp.Path()));
  ASSERT_TRUE(RunProgram(Sleeper(second), FTemp.Path()));
  ASSERT_TRUE(AwaitRunning(first, 1));
  ASSERT_TRUE(AwaitRunning(second, 1));
  EXPECT_TRUE(TerminateProcessesByPath("child.exe", 10000));  // a bare name matches nothing
  EXPECT_TRUE(TerminateProcessesByPath(UpperCase(first), 10000));
  EXPECT_EQ(RunningFrom(first), 0);
  EXPECT_EQ(RunningFrom(second), 1);
  EXPECT_TRUE(TerminateProcessesByPath(second, 10000));
  EXPECT_EQ(RunningFrom(second), 0);
  EXPECT_TRUE(TerminateProcessesByPath(second, 10000));  // nothing left: true at once
}

#ifndef _WIN32
// Windows waits on at most 64 handles at once; every match must still end.
// (Seventy Wine processes are too heavy for the Wine run.)
TEST_F(ProcessUtilsTest, MoreThanSixtyFourMatchesAllEnd) {
  std::string child = Child("many");
  for (int i = 0; i < 70; ++i) ASSERT_TRUE(RunProgram(Sleeper(child), FTemp.Path()));
  ASSERT_TRUE(AwaitRunning(child, 70));
  EXPECT_TRUE(TerminateProcessesByPath(child, 10000));
  EXPECT_EQ(RunningFrom(child), 0);
}
#endif

TEST_F(ProcessUtilsTest, TheRunningProgramNeverEndsItself) {
  std::string child = Child("self");
  ASSERT_TRUE(RunProgram(Sleeper(child), FTemp.Path()));
  ASSERT_TRUE(AwaitRunning(child, 1));
  std::string out = NativeOf(FTemp.File("self.txt")).string();
  ASSERT_TRUE(RunProgramAndWait(Quoted(child) + " --volok-child end-self " + Quoted(out), FTemp.Path(), 60000));
  EXPECT_EQ(ReadNative(out), "alive, others ended\n");
  EXPECT_TRUE(AwaitRunning(child, 0));
}

// An upgrade moves the install folder's content into "Backup" before its
// entries run; the old program is still known by the path it started from.
TEST_F(ProcessUtilsTest, AProgramIsFoundByThePathItStartedFromAfterItsFileMoved) {
  auto& fs = platform::FileSystem::Default();
  std::string app = Child("app"), moved_folder = Child("tree");
  ASSERT_TRUE(RunProgram(Sleeper(app), FTemp.Path()));
  ASSERT_TRUE(RunProgram(Sleeper(moved_folder), FTemp.Path()));
  ASSERT_TRUE(AwaitRunning(app, 1));
  ASSERT_TRUE(AwaitRunning(moved_folder, 1));
  ASSERT_TRUE(fs.MakeFolder(FTemp.File("app\\Backup")).ok());
  ASSERT_TRUE(fs.MoveFileReplace(app, FTemp.File("app\\Backup\\child.exe")).ok());
  ASSERT_TRUE(fs.MoveFileReplace(FTemp.File("tree"), FTemp.File("tree moved")).ok());
  // A program started from the new place after the move is named by it.
  std::string backup = FTemp.File("app\\Backup\\child.exe");
  ASSERT_TRUE(RunProgram(Sleeper(backup), FTemp.Path()));
  ASSERT_TRUE(AwaitRunning(backup, 1));
  EXPECT_EQ(RunningFrom(app), 1);
  EXPECT_TRUE(TerminateProcessesByPath(app, 10000));
  EXPECT_EQ(RunningFrom(app), 0);
  EXPECT_EQ(RunningFrom(backup), 1);
  EXPECT_TRUE(TerminateProcessesByPath(moved_folder, 10000));
  EXPECT_EQ(RunningFrom(moved_folder), 0);
  EXPECT_TRUE(TerminateProcessesByPath(backup, 10000));
  EXPECT_TRUE(AwaitRunning(backup, 0));
}

}  // namespace
}  // namespace volok
