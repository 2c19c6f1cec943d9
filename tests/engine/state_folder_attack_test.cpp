// Another account against the state folder, natively with two real
// accounts: the test runs as root, and the attacker's steps run as uid
// 65534 through setpriv, in scratch folders it can reach (a state home that,
// like ProgramData, lets everybody add folders).
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "engine/run_journal.h"
#include "platform/runtime.h"
#include "scoped_env.h"
#include "worker_fixture.h"

namespace volok {
namespace {

namespace fs = std::filesystem;

constexpr char kAttacker[] = "setpriv --reuid 65534 --regid 65534 --clear-groups ";

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

int AsAttacker(const std::string& command) {
  int status = std::system((kAttacker + std::string("sh -c ") + "\"" + command + "\"").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class StateFolderAttackTest : public WorkerTest {
 protected:
  void SetUp() override {
    WorkerTest::SetUp();
    if (::geteuid() != 0 || std::system("command -v setpriv >/dev/null") != 0)
      GTEST_SKIP() << "needs root and setpriv: the attacker runs as uid 65534";
    // Everybody may add folders here, as in ProgramData or /tmp.
    fs::permissions(FStateHome.NativePath(), fs::perms::all | fs::perms::sticky_bit);
    fs::permissions(FVictim.NativePath(), fs::perms::all);
    FNoJournalDir = std::make_unique<testing::ScopedEnv>("VOLOK_JOURNAL_DIR", "");
    FStateHomeEnv = std::make_unique<testing::ScopedEnv>("XDG_STATE_HOME", FStateHome.NativePath().string());
    testing::WriteNative(FPackage.Native("conf.txt"), "settings");
  }

  std::string Install() {
    return InstallEntries(File("conf", FPackage.File("conf.txt"), "Copy2", FTarget.File("conf.txt")),
                          FTarget.File("app"));
  }

  // The journal's file name, as anyone can work it out from the ShortName.
  std::string JournalName() {
    testing::TempFolder scratch;
    TRunJournal journal(scratch.Path(), FShortName);
    return fs::path(testing::TempFolder::NativeOf(journal.Path())).filename().string();
  }

  fs::path Journals() const { return FStateHome.NativePath() / "volok" / "journal"; }

  testing::TempFolder FStateHome, FVictim;
  std::unique_ptr<testing::ScopedEnv> FNoJournalDir, FStateHomeEnv;
};

TEST_F(StateFolderAttackTest, AStateFolderMadeByAnotherAccountIsSetAsideAndItsJournalNeverReplayed) {
  // The attacker's "interrupted fresh install" of a folder of the victim's:
  // replayed, its rollback would empty the folder.
  testing::WriteNative(FVictim.Native("notes.txt"), "the victim's notes");
  TJournalState forged;
  forged.RunId = "abcdef123456";
  forged.Folder = FVictim.Path();
  const fs::path planted = FVictim.Native("planted.journal");
  testing::WriteNative(planted, FormatJournal(forged));
  fs::permissions(planted, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  const fs::path journals = Journals();
  ASSERT_EQ(AsAttacker("mkdir -p " + Quoted(journals) + " && cp " + Quoted(planted) + " " +
                       Quoted(journals / JournalName())),
            0);
  ASSERT_EQ(fs::status(journals.parent_path()).permissions() & fs::perms::others_write, fs::perms::none);

  EXPECT_EQ(Install(), kDone);
  EXPECT_EQ(testing::ReadNative(FVictim.Native("notes.txt")), "the victim's notes");
  struct stat st;
  ASSERT_EQ(::stat(journals.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  bool set_aside = false;
  for (const auto& entry : fs::directory_iterator(FStateHome.NativePath()))
    set_aside = set_aside || entry.path().filename().string().rfind("volok.untrusted-", 0) == 0;
  EXPECT_TRUE(set_aside);
  bool logged = false;
  for (const std::string& message : FRecorded.Messages)
    logged = logged || message.find("[Recovery] Чужая папка на месте папки журнала установки") != std::string::npos;
  EXPECT_TRUE(logged);
}

TEST_F(StateFolderAttackTest, AnotherAccountCannotHoldTheLockAndBlockEveryRun) {
  ASSERT_EQ(Install(), kDone);  // the folder and its lock exist now
  fs::path lock;
  for (const auto& entry : fs::directory_iterator(Journals()))
    if (entry.path().extension() == ".lock") lock = entry.path();
  ASSERT_FALSE(lock.empty());
  struct stat st;
  ASSERT_EQ(::stat(lock.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  // The attacker tries to hold a shared lock for a while; the run after it
  // must not see another run. Bounded: the holder is ended by its pid.
  pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    ::execl("/bin/sh", "sh", "-c",
            (kAttacker + std::string("flock -s ") + Quoted(lock) + " sleep 20").c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  for (int i = 0; i < 20 && ::waitpid(holder, &status, WNOHANG) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(Install(), kDone);
  ::kill(holder, SIGKILL);
  ::waitpid(holder, &status, 0);
}

TEST_F(StateFolderAttackTest, AJournalThatIsALinkIsNeitherFollowedNorReplayed) {
  ASSERT_EQ(Install(), kDone);
  testing::WriteNative(FVictim.Native("notes.txt"), "the victim's notes");
  TJournalState forged;
  forged.RunId = "abcdef123456";
  forged.Folder = FVictim.Path();
  testing::WriteNative(FVictim.Native("planted.journal"), FormatJournal(forged));
  fs::create_symlink(FVictim.Native("planted.journal"), Journals() / JournalName());
  EXPECT_EQ(Install(), kDone);
  EXPECT_EQ(testing::ReadNative(FVictim.Native("notes.txt")), "the victim's notes");
  EXPECT_TRUE(fs::exists(FVictim.Native("planted.journal")));
}

}  // namespace
}  // namespace volok
#endif
