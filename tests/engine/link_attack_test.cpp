// A standard account swaps the folders an elevated rollback works in for
// links to a root-only folder, between two of its steps: nothing of root's
// may move out, nothing of the user's may move in, nothing there may go.
// Natively with two real accounts (root runs the engine, uid 65534 makes
// the links).
#ifndef _WIN32
#include <gtest/gtest.h>

#include <filesystem>

#include "common/app_paths.h"
#include "common/error.h"
#include "common/log_writer.h"
#include "engine/folder_ownership.h"
#include "engine/run_journal.h"
#include "engine/run_recovery.h"
#include "other_account.h"
#include "scoped_env.h"
#include "temp_folder.h"

namespace volok {
namespace {

namespace fs = std::filesystem;

class LinkAttackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::CanUseOtherAccount()) GTEST_SKIP() << "needs root and setpriv";
    // The user's install folder, and root's own folder beside it.
    fs::create_directories(FScratch.Native("app"));
    testing::GiveToOtherAccount(FScratch.Native("app"));
    fs::create_directories(FScratch.Native("secret"));
    fs::permissions(FScratch.Native("secret"), fs::perms::owner_all);
    testing::WriteNative(FScratch.Native("secret/root.txt"), "root's");
    testing::WriteNative(FScratch.Native("app/user.txt"), "user's");
    FState.RunId = "attack000001";
    FState.Folder = FScratch.File("app");
    FState.FolderExisted = true;
    FState.Earlier = {"user.txt"};
    FState.Staging = "Backup.run-" + FState.RunId;
  }

  // The other account replaces `name` in the install folder by a link to
  // root's folder (what was there moves aside).
  void SwapForLink(const std::string& name) {
    const std::string app = FScratch.Native("app").string(), secret = FScratch.Native("secret").string();
    ASSERT_TRUE(testing::AsOtherAccount("cd '" + app + "' && { [ ! -e '" + name + "' ] || mv '" + name +
                                        "' aside; } && ln -s '" + secret + "' '" + name + "'"));
  }

  void ExpectSecretUntouched() {
    EXPECT_EQ(testing::ReadNative(FScratch.Native("secret/root.txt")), "root's");
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(FScratch.Native("secret"))) entries += !entry.path().empty();
    EXPECT_EQ(entries, 1u) << "something was moved into root's folder";
  }

  // Moves the earlier content aside as a run does, through a journal of
  // its own in root's scratch folder.
  void MoveAside() {
    TRunJournal journal(FScratch.File("journal"), "LinkAttack");
    journal.State() = FState;
    MoveEarlierAside(journal);
    FState = journal.State();
  }

  testing::TempFolder FScratch;
  TJournalState FState;
};

TEST_F(LinkAttackTest, StagingSwappedForALinkMovesNothingOutOfRootsFolder) {
  MoveAside();
  ASSERT_TRUE(fs::exists(FScratch.Native("app/" + FState.Staging + "/user.txt")));
  SwapForLink(FState.Staging);
  std::vector<std::string> report;
  EXPECT_THROW(RollBack(FState, report), volok::Error);
  ExpectSecretUntouched();
  EXPECT_FALSE(fs::exists(FScratch.Native("app/root.txt")));
  // Finishing the run moves the link itself into Backup, not what it names.
  EXPECT_TRUE(RollForward(FState, report));
  EXPECT_TRUE(fs::is_symlink(FScratch.Native("app/Backup")));
  ExpectSecretUntouched();
}

TEST_F(LinkAttackTest, StagingSwappedBeforeTheMoveTakesNoUserFileIntoRootsFolder) {
  SwapForLink(FState.Staging);
  // The staging folder is always new: one that exists is not used.
  EXPECT_THROW(MoveAside(), volok::Error);
  ExpectSecretUntouched();
  EXPECT_EQ(testing::ReadNative(FScratch.Native("app/user.txt")), "user's");
}

TEST_F(LinkAttackTest, PlantedUndoFolderIsNeverWrittenIntoNorEmptied) {
  FState.Staging.clear();
  FState.Earlier.clear();
  testing::WriteNative(FScratch.Native("app/new.txt"), "written by the run");
  SwapForLink("Backup.undo-" + FState.RunId);
  std::vector<std::string> report;
  RollBack(FState, report);
  ExpectSecretUntouched();
  EXPECT_FALSE(fs::exists(FScratch.Native("app/new.txt")));
}

TEST_F(LinkAttackTest, InstallFolderSwappedForALinkLosesNothingOfRoots) {
  MoveAside();
  testing::WriteNative(FScratch.Native("app/new.txt"), "written by the run");
  // The user owns the folder above the install folder too.
  testing::GiveToOtherAccount(FScratch.NativePath());
  const std::string root = FScratch.NativePath().string(), secret = FScratch.Native("secret").string();
  ASSERT_TRUE(testing::AsOtherAccount("cd '" + root + "' && mv app app.real && ln -s '" + secret + "' app"));
  std::vector<std::string> report;
  EXPECT_THROW(RollBack(FState, report), volok::Error);
  ExpectSecretUntouched();
  fs::permissions(FScratch.NativePath(), fs::perms::owner_all);
}

TEST_F(LinkAttackTest, ALinkInTheEarlierBackupGoesAsTheLinkNotTheFileItNames) {
  MoveAside();
  const std::string earlier = "app/" + FState.Staging + "/Backup";
  fs::create_directories(FScratch.Native(earlier + "/sub"));
  fs::create_symlink(FScratch.Native("secret/root.txt"), FScratch.Native(earlier + "/sub/linked.txt"));
  testing::ScopedEnv trash("XDG_DATA_HOME", FScratch.Native("data").string());
  std::vector<std::string> report;
  EXPECT_TRUE(RollForward(FState, report));
  EXPECT_FALSE(fs::exists(fs::symlink_status(FScratch.Native("app/Backup/Backup"))));
  ExpectSecretUntouched();
}

TEST_F(LinkAttackTest, AUsersFolderWithOnlyALogIsNotTakenAsOnesOwn) {
  fs::remove(FScratch.Native("app/user.txt"));
  testing::WriteNative(FScratch.Native("app/setup.log"), "planted");
  EXPECT_EQ(InspectInstallFolder(FState.Folder, "Prog", ""), TFolderContent::Foreign);
  // A failed run's log in a folder of root's own is.
  fs::create_directories(FScratch.Native("failed"));
  testing::WriteNative(FScratch.Native("failed/setup.log"), "an earlier failure");
  EXPECT_EQ(InspectInstallFolder(FScratch.File("failed"), "Prog", ""), TFolderContent::Nothing);
}

TEST_F(LinkAttackTest, ALogSwappedForALinkIsNotWrittenThrough) {
  const std::string app = FScratch.Native("app").string(), secret = FScratch.Native("secret").string();
  ASSERT_TRUE(testing::AsOtherAccount("ln -s '" + secret + "/root.txt' '" + app + "/setup.log'"));
  const std::string saved = LogFileName();
  SetLogFileName(FScratch.File("app\\setup.log"));
  WriteLogLine("a line root writes", nullptr, 0, 65001, true);
  SetLogFileName(saved);
  ExpectSecretUntouched();
}

}  // namespace
}  // namespace volok
#endif
