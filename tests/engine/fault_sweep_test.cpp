// A countdown sweep across a whole install, as SQLite's test VFS does it:
// run the same install again and again, failing the 1st, 2nd, … change the
// engine makes to the disk, until a run makes no more changes than the
// count. Every run must end with the completion or the error message,
// leave no registration or uninstaller behind an error, and change nothing
// outside the install folder but the run's journal.
#include "countdown_file_system.h"
#include "worker_fixture.h"

namespace volok {
namespace {

namespace fs = std::filesystem;

class FaultSweepTest : public WorkerTest {
 protected:
  void SetUp() override {
    WorkerTest::SetUp();
    fs::create_directories(FSource.Native("sub"));
    testing::WriteNative(FSource.Native("a.txt"), "a");
    testing::WriteNative(FSource.Native("sub/b.txt"), std::string(5000, 'b'));
    std::string archive = PackPayload(FSource.Path());
    testing::WriteNative(FPackage.Native("readme.txt"), "{ShortName} в {InstallPath}");
    FTargetPath = FTarget.File("app");
    WriteDescription("<Install>" + File("unzip", archive, "UnZip", "{InstallPath}") +
                         File("text", "readme.txt", "CopyText", "{InstallPath}") +
                         File("copy", "readme.txt", "Copy", "{InstallPath}\\sub") + "</Install>",
                     FTargetPath);
  }

  // Installs with the `fail_at`th change refused; answers the final message.
  std::string InstallFailingAt(int fail_at) {
    fs::remove_all(FTarget.Native("app"));
    (void)platform::Registry::Default().DeleteKeyTree(RegistryRoot::LocalMachine, RegistrationKey());
    FFiles.FailAt = fail_at;
    FFiles.Changes = 0;
    FFiles.Paths.clear();
    FRecorded = {};
    platform::ScopedDefault<platform::FileSystem> scope(FFiles);
    TInstallerThread worker;
    Attach(worker);
    Run(worker);
    return worker.Message();
  }

  testing::TempFolder FSource;
  testing::CountdownFileSystem FFiles{platform::FileSystem::BuiltIn()};
  std::string FTargetPath;
};

TEST_F(FaultSweepTest, EveryRefusedChangeEndsCleanly) {
  const std::string done = "[Install] Установка завершена.", failed = "Установка завершена с ошибкой: ";
  int fail_at = 1;
  for (; fail_at < 500; ++fail_at) {
    SCOPED_TRACE("change " + std::to_string(fail_at) + " refused");
    std::string message = InstallFailingAt(fail_at);
    ASSERT_EQ(FRecorded.Stops, 1);
    for (const std::string& path : FFiles.Paths)
      EXPECT_TRUE(path.rfind(FTargetPath, 0) == 0 || path.rfind(FJournals.Path(), 0) == 0) << path;
    if (message != done) {
      ASSERT_EQ(message.rfind(failed, 0), 0u) << message;
      EXPECT_EQ(RegistryText("DisplayName"), "<missing>") << message << " at " << FFiles.Paths.back();
      EXPECT_FALSE(fs::exists(FTarget.Native("app/uninstall.exe")));
    }
    if (FFiles.Changes < fail_at) {  // nothing was refused: the sweep is through
      EXPECT_EQ(message, done);
      break;
    }
  }
  EXPECT_LT(fail_at, 500);
  EXPECT_GT(fail_at, 10);  // the install makes a good number of changes
}

}  // namespace
}  // namespace volok
