// Programs that hold files of the install folder: named before an upgrade or
// uninstall moves anything, closed when the run may close them, else the run
// is refused with the folder untouched.
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>
#include <map>
#include <optional>

#include "fake_file_holders.h"
#include "platform/process.h"
#include "version_one_fixture.h"

namespace volok {
namespace {

namespace fs = std::filesystem;

constexpr char kDone[] = "[Install] Установка завершена.";

class FilesInUseTest : public VersionOneTest {
 protected:
  struct Outcome {
    int ExitCode = 0;
    std::string Message;
  };

  // One silent run of `body` over version 1; `prepare` sets the worker up.
  Outcome RunOver(const std::string& body, const std::function<void(TInstallerThread&)>& prepare = {}) {
    WriteDescription(body, FApp);
    TInstallerThread worker;
    if (worker.Error()) return {-1, "construction: " + worker.Message()};
    Attach(worker);
    if (prepare) prepare(worker);
    Run(worker);
    return {worker.ExitCode(), worker.Message()};
  }

  Outcome Upgrade(const std::function<void(TInstallerThread&)>& prepare = {}, const std::string& more = "") {
    return RunOver("<Install>" + File("unzip", FArchive, "UnZip", "{InstallPath}") + more + "</Install>", prepare);
  }

  Outcome Uninstall(const std::function<void(TInstallerThread&)>& prepare = {}) {
    return RunOver("<UnInstall>" + File("del", FApp, "DeleteFolder", "{InstallPath}") + "</UnInstall>", prepare);
  }

  testing::FakeFileHolders FHolders;
};

class FakeHoldersTest : public FilesInUseTest {
 protected:
  void SetUp() override {
    FilesInUseTest::SetUp();
    FHolders.Holding = {{4242, "app.exe", true}, {77, "Блокнот", true}};
  }
  platform::ScopedDefault<platform::FileHolders> FScope{FHolders};
};

TEST_F(FakeHoldersTest, ASilentUpgradeWithoutTheSwitchIsRefusedNamingThemAndChangesNothing) {
  const Tree before = Snapshot(FTarget.Native("app"));
  Outcome outcome = Upgrade();
  EXPECT_EQ(outcome.ExitCode, kExitFatal);
  EXPECT_EQ(outcome.Message,
            "Установка завершена с ошибкой: Файлы программы заняты: app.exe (4242), Блокнот (77). Закройте их или "
            "запустите установку с /closeapplications.");
  EXPECT_TRUE(Logged("2|-|[InUse] Файлы программы заняты: app.exe (4242), Блокнот (77)"));
  EXPECT_EQ(FHolders.Closes, 0);
  EXPECT_EQ(FHolders.Folders, std::vector<std::string>{FApp});
  Tree after = Snapshot(FTarget.Native("app"));
  after.erase("setup.log");  // the refusal is logged there
  EXPECT_EQ(after, before);
  EXPECT_EQ(RegistryText("DisplayName"), "Version 1");
  EXPECT_FALSE(JournalLeft()) << "nothing was begun";
}

TEST_F(FakeHoldersTest, TheProgramsThatStartedTheRunNeverStopIt) {
  // A shell or deployment tool whose current folder is the install folder,
  // or the uninstaller waiting for its copy: they wait for the run.
  FHolders.Holding = {{17808, "bash", false, true}, {17809, "timeout", false, true}};
  Outcome outcome = Upgrade();
  EXPECT_EQ(outcome.ExitCode, 0) << outcome.Message;
  EXPECT_EQ(FHolders.Closes, 0);
}

TEST_F(FakeHoldersTest, TheSwitchesCloseThemBeforeTheUpgradeAndStartThemAgainAfterIt) {
  for (bool restart : {false, true}) {
    SCOPED_TRACE(restart);
    FHolders.Holding = {{4242, "app.exe", true}};
    FHolders.Closes = FHolders.Restarts = 0;
    Outcome outcome = Upgrade([&](TInstallerThread& worker) {
      worker.SetCloseApplications(true);
      worker.SetRestartApplications(restart);
    });
    EXPECT_EQ(outcome.ExitCode, 0) << outcome.Message;
    EXPECT_EQ(outcome.Message, kDone);
    EXPECT_EQ(FHolders.Closes, 1);
    EXPECT_EQ(FHolders.Restarts, restart ? 1 : 0);
    EXPECT_EQ(testing::ReadNative(FTarget.Native("app/a.txt")), "new a");
    EXPECT_TRUE(Logged("4|-|[InUse] Программы закрыты."));
  }
}

TEST_F(FakeHoldersTest, ProgramsThatCannotBeClosedAreNamedAndTheRunGoesOn) {
  FHolders.Holding = {{4, "System", false}};
  FHolders.CloseFails = true;
  Outcome outcome = Upgrade([](TInstallerThread& worker) { worker.SetCloseApplications(true); });
  EXPECT_EQ(outcome.Message, kDone);
  EXPECT_TRUE(Logged("2|-|[InUse] Эти программы закрыть нельзя: System (4)"));
  EXPECT_TRUE(Logged("2|-|[InUse] Не удалось закрыть программы: busy (1)"));
}

TEST_F(FakeHoldersTest, TheWindowsAnswerClosesOrCancels) {
  for (bool answer : {false, true}) {
    SCOPED_TRACE(answer);
    FHolders.Holding = {{4242, "app.exe", true}};
    std::vector<platform::FileHolder> asked;
    Outcome outcome = Upgrade([&](TInstallerThread& worker) {
      worker.OnFilesInUse = [&](TInstallerThread&, const std::vector<platform::FileHolder>& holders) {
        asked = holders;
        return answer;
      };
    });
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].Name, "app.exe");
    if (answer) {
      EXPECT_EQ(outcome.Message, kDone);
    } else {
      EXPECT_EQ(outcome.ExitCode, kExitCancelled);
      EXPECT_EQ(outcome.Message,
                "Установка завершена с ошибкой: Установка отменена: файлы программы заняты: app.exe (4242).");
      EXPECT_EQ(testing::ReadNative(FTarget.Native("app/a.txt")), "old a");
    }
  }
}

TEST_F(FakeHoldersTest, AFreshInstallAsksNothing) {
  fs::remove_all(FTarget.Native("app"));
  EXPECT_EQ(Upgrade().Message, kDone);
  EXPECT_TRUE(FHolders.Folders.empty());
}

TEST_F(FakeHoldersTest, ASilentUninstallIsRefusedOrClosesThem) {
  Outcome refused = Uninstall();
  EXPECT_EQ(refused.ExitCode, kExitFatal);
  EXPECT_EQ(refused.Message,
            "Удаление завершена с ошибкой: Файлы программы заняты: app.exe (4242), Блокнот (77). Закройте их или "
            "запустите удаление с /closeapplications.");
  EXPECT_TRUE(fs::exists(FTarget.Native("app/a.txt")));
  EXPECT_EQ(RegistryText("DisplayName"), "Version 1");
  Outcome closed = Uninstall([](TInstallerThread& worker) { worker.SetCloseApplications(true); });
  EXPECT_EQ(closed.ExitCode, 0) << closed.Message;
  EXPECT_FALSE(fs::exists(FTarget.Native("app")));
  EXPECT_EQ(FHolders.Closes, 1);
}

#ifndef _WIN32
// A real program whose current folder lies in the install folder, ended in
// teardown whatever happened.
class RealHolderTest : public FilesInUseTest {
 protected:
  void TearDown() override {
    if (FProgram) {
      (void)FProgram->Terminate();
      (void)FProgram->Wait(5000);
    }
    FilesInUseTest::TearDown();
  }

  std::uint32_t StartHolder(const std::string& command_line, const std::string& folder) {
    std::unique_ptr<platform::Process> process;
    EXPECT_TRUE(platform::Processes::Default().Start(command_line, folder, process).ok());
    FProgram = std::move(process);
    std::uint32_t id = 0;
    // Its id, from the list the seam reads: the child has reached exec once
    // /proc shows it in the folder.
    for (int attempt = 0; attempt < 500 && id == 0; ++attempt) {
      std::unique_ptr<platform::HolderSession> session;
      std::vector<platform::FileHolder> holders;
      if (platform::FileHolders::Default().Open(FApp, session).ok() && session->Holders(holders).ok() &&
          !holders.empty())
        id = holders[0].Id;
      else
        (void)FProgram->Wait(10);
    }
    return id;
  }

  std::unique_ptr<platform::Process> FProgram;
};

TEST_F(RealHolderTest, ARunningProgramIsNamedRefusedThenClosedAndStartedAgain) {
  std::uint32_t id = StartHolder("sleep 30", FApp + "\\sub");
  ASSERT_NE(id, 0u);
  const std::string named = "sleep (" + std::to_string(id) + ")";
  Outcome refused = Upgrade();
  EXPECT_EQ(refused.ExitCode, kExitFatal);
  EXPECT_NE(refused.Message.find("Файлы программы заняты: " + named + "."), std::string::npos) << refused.Message;
  EXPECT_TRUE(Logged("2|-|[InUse] Файлы программы заняты: " + named));
  EXPECT_FALSE(FProgram->Wait(0));

  Outcome closed = Upgrade([](TInstallerThread& worker) {
    worker.SetCloseApplications(true);
    worker.SetRestartApplications(true);
  });
  EXPECT_EQ(closed.Message, kDone);
  EXPECT_TRUE(FProgram->Wait(5000)) << "the holder was closed";
  EXPECT_EQ(testing::ReadNative(FTarget.Native("app/sub/b.txt")), "new b");
  // Started again, in the folder it had.
  std::unique_ptr<platform::HolderSession> session;
  std::vector<platform::FileHolder> again;
  for (int attempt = 0; attempt < 500 && again.empty(); ++attempt) {
    ASSERT_TRUE(platform::FileHolders::Default().Open(FApp, session).ok());
    ASSERT_TRUE(session->Holders(again).ok());
    if (again.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].Name, "sleep");
  EXPECT_NE(again[0].Id, id);
  std::unique_ptr<platform::Process> restarted;
  ASSERT_TRUE(platform::Processes::Default().Open(again[0].Id, restarted).ok());
  (void)restarted->Terminate();
  EXPECT_TRUE(restarted->Wait(5000));
}

TEST_F(RealHolderTest, TheDescriptionsOwnProcessTerminateNeedsNoSwitch) {
  fs::create_directories(FTarget.Native("app/bin"));
  fs::copy_file("/bin/sleep", FTarget.Native("app/bin/worker"));
  ASSERT_NE(StartHolder("\"" + FApp + "\\bin\\worker\" 30", FApp), 0u);
  Outcome outcome = Upgrade({}, File("stop", FApp + "\\bin\\worker", "ProcessTerminate", "x"));
  EXPECT_EQ(outcome.Message, kDone);
  EXPECT_TRUE(FProgram->Wait(5000));
}
#endif

}  // namespace
}  // namespace volok
