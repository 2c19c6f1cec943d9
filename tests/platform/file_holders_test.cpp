// The programs-that-hold-files service against real processes: natively
// through /proc (a current folder, an open file, another user's program);
// on Windows the Restart Manager loaded from the system folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/file_holders.h"
#include "platform/process.h"
#include "temp_folder.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace volok::platform {
namespace {

namespace fs = std::filesystem;

std::vector<FileHolder> HoldersOf(const std::string& folder) {
  std::unique_ptr<HolderSession> session;
  std::vector<FileHolder> holders;
  EXPECT_TRUE(FileHolders::Default().Open(folder, session).ok());
  if (session) {
    EXPECT_TRUE(session->Holders(holders).ok());
  }
  return holders;
}

TEST(FileHoldersTest, AMissingFolderOrOneNobodyHoldsListsNothing) {
  testing::TempFolder folder;
  testing::WriteNative(folder.Native("free.txt"), "nobody holds me");
  EXPECT_TRUE(HoldersOf(folder.File("missing")).empty());
  // This process holds the file and is never among the holders.
  std::ifstream held(folder.Native("free.txt"));
  EXPECT_TRUE(HoldersOf(folder.Path()).empty());
}

#ifdef _WIN32
// Wine's rstrtmgr.dll answers every call with success and lists nothing;
// the library must still load from the system folder and take a folder's
// files in batches.
TEST(FileHoldersTest, TheRestartManagerLoadsAndTakesAFolderInBatches) {
  testing::TempFolder folder;
  for (int i = 0; i < 2100; ++i) testing::WriteNative(folder.Native("f" + std::to_string(i)), "x");
  std::unique_ptr<HolderSession> session;
  Status opened = FileHolders::Default().Open(folder.Path(), session);
  ASSERT_TRUE(opened.ok()) << opened.message();
  std::vector<FileHolder> holders;
  EXPECT_TRUE(session->Holders(holders).ok());
  EXPECT_TRUE(session->Close().ok());
  EXPECT_TRUE(session->Restart().ok());
}
#else
class ProcHoldersTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (auto& process : FStarted) {
      (void)process->Terminate();
      (void)process->Wait(5000);
    }
  }

  // Starts a program and waits (bounded) until it holds the folder, under
  // `name` when one is given (a launcher such as setpriv holds it first,
  // before it becomes the program).
  std::uint32_t Start(const std::string& command_line, const std::string& working_folder,
                      const std::string& name = "") {
    std::unique_ptr<Process> process;
    EXPECT_TRUE(Processes::Default().Start(command_line, working_folder, process).ok());
    FStarted.push_back(std::move(process));
    return AwaitHolder(0, name);
  }

  // The id of a holder other than `other` (named `name`, when given), once
  // one shows (about 5 s at most).
  std::uint32_t AwaitHolder(std::uint32_t other, const std::string& name = "") {
    for (int attempt = 0; attempt < 500; ++attempt) {
      for (const FileHolder& holder : HoldersOf(FFolder.Path()))
        if (holder.Id != other && (name.empty() || holder.Name == name)) return holder.Id;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
  }

  testing::TempFolder FFolder;
  std::vector<std::unique_ptr<Process>> FStarted;
};

TEST_F(ProcHoldersTest, AnOpenFileBelowTheFolderNamesItsProgramAndCloseEndsIt) {
  fs::create_directories(FFolder.Native("deep/er"));
  testing::WriteNative(FFolder.Native("deep/er/log.txt"), "line\n");
  testing::TempFolder elsewhere;
  // Its current folder lies elsewhere: only the open file ties it here.
  std::uint32_t id = Start("tail -f \"" + FFolder.Native("deep/er/log.txt").string() + "\"", elsewhere.Path());
  ASSERT_NE(id, 0u);
  std::vector<FileHolder> holders = HoldersOf(FFolder.Path());
  ASSERT_EQ(holders.size(), 1u);
  EXPECT_EQ(holders[0].Name, "tail");
  EXPECT_TRUE(holders[0].CanClose);
  // A folder whose name merely starts the same is another folder.
  fs::create_directories(FFolder.NativePath().string() + "-deep");
  EXPECT_TRUE(HoldersOf(FFolder.Path() + "-deep").empty());
  fs::remove(FFolder.NativePath().string() + "-deep");

  std::unique_ptr<HolderSession> session;
  ASSERT_TRUE(FileHolders::Default().Open(FFolder.Path(), session).ok());
  ASSERT_TRUE(session->Holders(holders).ok());
  ASSERT_TRUE(session->Close().ok());
  EXPECT_TRUE(FStarted[0]->Wait(5000));
  EXPECT_TRUE(HoldersOf(FFolder.Path()).empty());
}

TEST_F(ProcHoldersTest, AProgramThatIgnoresTheRequestIsEndedByForce) {
  // sh ignores SIGTERM when told to; its current folder holds the folder.
  std::uint32_t id = Start("sh -c \"trap '' TERM; : > trapped; while :; do sleep 1; done\"", FFolder.Path());
  ASSERT_NE(id, 0u);
  // Only once the shell has set its trap does it ignore the request.
  for (int attempt = 0; attempt < 500 && !fs::exists(FFolder.Native("trapped")); ++attempt)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(fs::exists(FFolder.Native("trapped")));
  std::unique_ptr<HolderSession> session;
  std::vector<FileHolder> holders;
  ASSERT_TRUE(FileHolders::Default().Open(FFolder.Path(), session).ok());
  ASSERT_TRUE(session->Holders(holders).ok());
  ASSERT_FALSE(holders.empty());
  EXPECT_TRUE(session->Close().ok());
  EXPECT_TRUE(FStarted[0]->Wait(5000));
  std::uint32_t code = 0;
  ASSERT_TRUE(FStarted[0]->ExitCode(code).ok());
  EXPECT_EQ(code, 128u + 9u);
}

TEST_F(ProcHoldersTest, AnotherUsersProgramIsStartedAgainAsThatUserNeverAsThisOne) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to start a program as another user";
  ::chmod(FFolder.NativePath().c_str(), 0755);
  std::uint32_t id = Start("setpriv --reuid 65534 --regid 65534 --clear-groups sleep 30", FFolder.Path(), "sleep");
  ASSERT_NE(id, 0u);
  std::unique_ptr<HolderSession> session;
  std::vector<FileHolder> holders;
  ASSERT_TRUE(FileHolders::Default().Open(FFolder.Path(), session).ok());
  ASSERT_TRUE(session->Holders(holders).ok());
  ASSERT_EQ(holders.size(), 1u);
  EXPECT_EQ(holders[0].Name, "sleep");
  ASSERT_TRUE(session->Close().ok());
  EXPECT_TRUE(FStarted[0]->Wait(5000));
  ASSERT_TRUE(session->Restart().ok());
  std::uint32_t again = AwaitHolder(id, "sleep");
  ASSERT_NE(again, 0u);
  struct stat owner{};
  ASSERT_EQ(::stat(("/proc/" + std::to_string(again)).c_str(), &owner), 0);
  EXPECT_EQ(owner.st_uid, 65534u);
  std::unique_ptr<Process> restarted;
  ASSERT_TRUE(Processes::Default().Open(again, restarted).ok());
  (void)restarted->Terminate();
  EXPECT_TRUE(restarted->Wait(5000));
}

TEST_F(ProcHoldersTest, TheProgramsThatStartedThisOneAreNotClosable) {
  // A program this one started is closable.
  std::uint32_t id = Start("sleep 30", FFolder.Path());
  ASSERT_NE(id, 0u);
  std::vector<FileHolder> holders = HoldersOf(FFolder.Path());
  ASSERT_EQ(holders.size(), 1u);
  EXPECT_TRUE(holders[0].CanClose);
  // The program that started this one, looked for in its own current
  // folder, is named but never closable: ending it would end the run.
  std::string cwd = fs::read_symlink("/proc/" + std::to_string(getppid()) + "/cwd").string();
  if (cwd == "/") GTEST_SKIP() << "the parent runs in the root folder";
  std::replace(cwd.begin(), cwd.end(), '/', '\\');
  std::unique_ptr<HolderSession> session;
  std::vector<FileHolder> parent;
  ASSERT_TRUE(FileHolders::Default().Open("Z:" + cwd, session).ok());
  ASSERT_TRUE(session->Holders(parent).ok());
  bool found = false;
  for (const FileHolder& holder : parent)
    if (holder.Id == static_cast<std::uint32_t>(getppid())) {
      found = true;
      EXPECT_FALSE(holder.CanClose);
      EXPECT_TRUE(holder.Caller);
    }
  EXPECT_TRUE(found);
}
#endif

}  // namespace
}  // namespace volok::platform
