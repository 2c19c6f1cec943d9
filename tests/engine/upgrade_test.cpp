// Upgrades over an existing install folder: a failed or cancelled run puts
// the folder back as it was, a completed one keeps the previous version in
// "Backup" and only then lets the earlier backup go.
#include <map>
#include <optional>
#include <set>

#include "countdown_file_system.h"
#include "scoped_env.h"
#include "worker_fixture.h"

namespace volok {
namespace {

namespace fs = std::filesystem;

constexpr char kFailed[] = "Установка завершена с ошибкой: ";
constexpr char kOldLog[] = "\xEF\xBB\xBF" "2026.01.01;10:00:00;[Install] Установка завершена.\r\n";

// Every file and folder below a folder: relative path -> content ("<dir>"
// for folders).
using Tree = std::map<std::string, std::string>;

Tree Snapshot(const fs::path& root) {
  Tree tree;
  if (!fs::exists(root)) return tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string relative = fs::relative(entry.path(), root).generic_string();
    tree[relative] = entry.is_directory() ? "<dir>" : testing::ReadNative(entry.path());
  }
  return tree;
}

// Moves out of the staged earlier version fail: the restore cannot finish.
class RefusingRestore final : public platform::FileSystemWrapper {
 public:
  using FileSystemWrapper::FileSystemWrapper;
  platform::Status MoveEntry(const std::string& source, const std::string& target) override {
    if (source.find("\\Backup.run-") != std::string::npos && target.find("\\Backup.run-") == std::string::npos)
      return platform::Status::Failure("Отказано в доступе");
    return FTarget.MoveEntry(source, target);
  }
};

class UpgradeTest : public WorkerTest {
 protected:
  void SetUp() override {
    WorkerTest::SetUp();
    fs::create_directories(FSource.Native("sub"));
    testing::WriteNative(FSource.Native("a.txt"), "new a");
    testing::WriteNative(FSource.Native("sub/b.txt"), "new b");
    FArchive = PackPayload(FSource.Path());
    FApp = FTarget.File("app");
    testing::WriteNative(FPackage.Native("readme.txt"), "{ShortName}");
  }

  // What version 1 left: its files, a file of the user's, its log, its
  // uninstaller and an earlier backup.
  void MakeVersionOne() {
    fs::remove_all(FTarget.Native("app"));
    fs::create_directories(FTarget.Native("app/sub"));
    fs::create_directories(FTarget.Native("app/Backup/deep"));
    testing::WriteNative(FTarget.Native("app/a.txt"), "old a");
    testing::WriteNative(FTarget.Native("app/sub/b.txt"), "old b");
    testing::WriteNative(FTarget.Native("app/user.txt"), "the user's own");
    testing::WriteNative(FTarget.Native("app/setup.log"), kOldLog);
    testing::WriteNative(FTarget.Native("app/uninstall.exe"), "engine 1");
    testing::WriteNative(FTarget.Native("app/uninstall.xml"), "description 1");
    testing::WriteNative(FTarget.Native("app/Backup/deep/older.txt"), "version 0");
    ASSERT_TRUE(platform::Registry::Default().CreateKey(RegistryRoot::LocalMachine, RegistrationKey()).ok());
    ASSERT_TRUE(platform::Registry::Default()
                    .SetString(RegistryRoot::LocalMachine, RegistrationKey(), "DisplayName", "Version 1")
                    .ok());
    // The registration tells that the folder holds this program.
    ASSERT_TRUE(platform::Registry::Default()
                    .SetString(RegistryRoot::LocalMachine, RegistrationKey(), "InstallLocation", FApp)
                    .ok());
  }

  // Runs the upgrade, through `files` when given (the description is written
  // before, without it).
  std::string Upgrade(const std::string& entries, bool cancel_after_first = false,
                      platform::FileSystem* files = nullptr) {
    WriteDescription("<Install>" + entries + "</Install>", FApp);
    FRecorded = {};
    std::optional<platform::ScopedDefault<platform::FileSystem>> scope;
    if (files) scope.emplace(*files);
    TInstallerThread worker;
    if (worker.Error()) return "construction: " + worker.Message();
    Attach(worker);
    worker.OnMessage = [&](TInstallerThread& sender, const std::string& text, int type, bool fatal) {
      TInstallerThread::LogSilent(sender, text, type, fatal);
      FRecorded.Messages.push_back(std::to_string(type) + "|" + text);
      if (cancel_after_first && text == "[Operation] unzip") sender.Terminate();
    };
    Run(worker);
    return worker.Message();
  }

  std::string FailingEntries() const {
    return File("unzip", FArchive, "UnZip", "{InstallPath}") + File("broken", "missing.txt", "Copy2", "{InstallPath}\\x");
  }

  // The tree as before, but for the log, which keeps the earlier lines and
  // gains those of the failed run.
  void ExpectVersionOne(const Tree& before) {
    Tree after = Snapshot(FTarget.Native("app"));
    std::string log = after["setup.log"];
    EXPECT_EQ(log.rfind(kOldLog, 0), 0u) << log;
    EXPECT_NE(log.find(kFailed), std::string::npos) << log;
    EXPECT_EQ(log.find("\xEF\xBB\xBF", 3), std::string::npos) << "one byte-order mark only";
    after["setup.log"] = before.at("setup.log");
    EXPECT_EQ(after, before);
    EXPECT_EQ(RegistryText("DisplayName"), "Version 1");
  }

  testing::TempFolder FSource, FData;
  // The earlier backup goes to a Recycle Bin of the test's own.
  testing::ScopedEnv FDataHome{"XDG_DATA_HOME", FData.NativePath().string()};
  std::string FArchive, FApp;
};

TEST_F(UpgradeTest, FailedUpgradePutsTheEarlierVersionBack) {
  MakeVersionOne();
  Tree before = Snapshot(FTarget.Native("app"));
  EXPECT_EQ(Upgrade(FailingEntries()).rfind(kFailed, 0), 0u);
  ExpectVersionOne(before);
  std::string log = testing::ReadNative(FTarget.Native("app/setup.log"));
  EXPECT_NE(log.find("[Operation] broken"), std::string::npos);
}

TEST_F(UpgradeTest, CancelledUpgradePutsTheEarlierVersionBack) {
  MakeVersionOne();
  Tree before = Snapshot(FTarget.Native("app"));
  EXPECT_EQ(Upgrade(FailingEntries(), true), std::string(kFailed) + "Процесс установки прерван.");
  ExpectVersionOne(before);
}

TEST_F(UpgradeTest, CompletedUpgradeKeepsThePreviousVersionOnly) {
  MakeVersionOne();
  EXPECT_EQ(Upgrade(File("unzip", FArchive, "UnZip", "{InstallPath}")), kDone);
  Tree after = Snapshot(FTarget.Native("app"));
  EXPECT_EQ(after["a.txt"], "new a");
  EXPECT_EQ(after["Backup/a.txt"], "old a");
  EXPECT_EQ(after["Backup/user.txt"], "the user's own");
  EXPECT_EQ(after["Backup/setup.log"], kOldLog);
  EXPECT_EQ(after["Backup/uninstall.exe"], "engine 1");
  EXPECT_EQ(after.count("Backup/Backup"), 0u);  // the earlier backup went to the Recycle Bin
  for (const auto& [path, content] : after) EXPECT_EQ(path.find("Backup."), std::string::npos) << path;
  EXPECT_NE(RegistryText("DisplayName"), "Version 1");
}

TEST_F(UpgradeTest, EveryRefusedChangeLeavesTheEarlierVersion) {
  testing::CountdownFileSystem files{platform::FileSystem::BuiltIn()};
  int fail_at = 1;
  for (; fail_at < 500; ++fail_at) {
    SCOPED_TRACE("change " + std::to_string(fail_at) + " refused");
    MakeVersionOne();
    Tree before = Snapshot(FTarget.Native("app"));
    files.FailAt = fail_at;
    files.Changes = 0;
    std::string message = Upgrade(File("unzip", FArchive, "UnZip", "{InstallPath}") +
                                      File("text", "readme.txt", "CopyText", "{InstallPath}"),
                                  false, &files);
    if (message == kDone) {
      // A refused step of the clean-up is finished by the next start.
      TInstallerThread next;
      next.Recover();
      EXPECT_EQ(testing::ReadNative(FTarget.Native("app/Backup/user.txt")), "the user's own");
    } else {
      ASSERT_EQ(message.rfind(kFailed, 0), 0u) << message;
      ExpectVersionOne(before);
    }
    if (files.Changes < fail_at) break;  // nothing was refused: the sweep is through
  }
  EXPECT_LT(fail_at, 500);
  EXPECT_GT(fail_at, 10);
}

TEST_F(UpgradeTest, RestoreThatCannotFinishSaysWhereEverythingIsAndDeletesNothing) {
  MakeVersionOne();
  RefusingRestore files{platform::FileSystem::BuiltIn()};
  EXPECT_EQ(Upgrade(FailingEntries(), false, &files).rfind(kFailed, 0), 0u);
  bool reported = false;
  for (const std::string& message : FRecorded.Messages)
    reported |= message.rfind("1|Не удалось восстановить папку установки. Прежнее содержимое папки находится в \"" +
                                  FApp + "\\Backup.run-", 0) == 0;
  EXPECT_TRUE(reported);
  // Both versions are still there, somewhere in the folder.
  std::multiset<std::string> contents;
  for (const auto& [path, content] : Snapshot(FTarget.Native("app"))) contents.insert(content);
  for (const char* kept : {"old a", "old b", "the user's own", "engine 1", "version 0", "new a", "new b"})
    EXPECT_EQ(contents.count(kept), 1u) << kept;
}

// The tree below `folder` read through the engine's own file layer, which
// reaches past MAX_PATH where the test runtime's std::filesystem does not.
void SnapshotThroughEngine(const std::string& folder, const std::string& prefix, Tree& tree) {
  std::vector<platform::FileEntry> entries;
  ASSERT_TRUE(platform::FileSystem::Default().ListFolder(folder, entries).ok()) << folder;
  for (const platform::FileEntry& entry : entries) {
    const std::string path = folder + "\\" + entry.Name, relative = prefix + entry.Name;
    tree[relative] = entry.IsFolder ? "<dir>" : ReadFileBytes(path);
    if (entry.IsFolder) SnapshotThroughEngine(path, relative + "/", tree);
  }
}

TEST_F(UpgradeTest, PathsLongerThanMaxPathSurviveInstallRestoreAndUninstall) {
  std::string deep;
  for (int i = 0; i < 5; ++i) deep += std::string(60, static_cast<char>('k' + i)) + "/";
  fs::create_directories(FSource.Native(deep));
  testing::WriteNative(FSource.Native(deep + "deep.txt"), "deep");
  PackPayload(FSource.Path());
  const std::string unzip = File("unzip", "data.zip", "UnZip", "{InstallPath}");
  ASSERT_EQ(InstallEntries(unzip, FApp), kDone);
  ASSERT_GT(FApp.size() + deep.size(), 300u);
  Tree before;
  SnapshotThroughEngine(FApp, "", before);
  EXPECT_EQ(before[deep + "deep.txt"], "deep");
  before.erase("setup.log");
  // An upgrade that fails puts the deep tree back where it was.
  EXPECT_EQ(InstallEntries(unzip + File("copy", FPackage.File("missing.txt"), "Copy2", "{InstallPath}\\x"), FApp).rfind(kFailed, 0), 0u);
  Tree after;
  SnapshotThroughEngine(FApp, "", after);
  after.erase("setup.log");
  EXPECT_EQ(after, before);
  // The uninstall removes all of it.
  WriteDescription("<UnInstall>" + File("del", FApp, "DeleteFolder", "{InstallPath}") + "</UnInstall>", FApp);
  TInstallerThread worker;
  ASSERT_FALSE(worker.Error()) << worker.Message();
  Attach(worker);
  Run(worker);
  EXPECT_FALSE(worker.Error()) << worker.Message();
  EXPECT_FALSE(platform::FileSystem::Default().FolderExists(FApp));
}

}  // namespace
}  // namespace volok
