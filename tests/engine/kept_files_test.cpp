// An upgrade over files that programs still hold (moves refused with a
// sharing violation, as Windows refuses them): the held files stay, a copy
// of each in the backup, the new version of each waits beside it for the
// restart, and the run ends with 3010. A run that fails instead puts the
// folder back exactly, even after a restart already replaced a held file.
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include "common/text.h"
#include "countdown_file_system.h"
#include "version_one_fixture.h"

namespace volok {
namespace {

namespace fs = std::filesystem;
using platform::Status;

constexpr char kDone[] = "[Install] Установка завершена.";
constexpr char kSharing[] = "Процесс не может получить доступ к файлу, так как этот файл занят другим процессом.";

// Files held open by programs, as Windows treats them: neither they nor a
// folder above them can be renamed, nor they replaced or truncated; reading
// them works. The restart list is kept here; `RestartAtOnce` plays a restart
// right when a replacement is requested (and lets the file go).
class HeldFileSystem final : public platform::FileSystemWrapper {
 public:
  using FileSystemWrapper::FileSystemWrapper;

  Status MoveFileReplace(const std::string& source, const std::string& target) override {
    if (Blocks(source) || IsHeld(target)) return Status::Failure(kSharing);
    return FTarget.MoveFileReplace(source, target);
  }
  Status OpenFile(const std::string& path, platform::FileAccess access, platform::FileShare share,
                  std::unique_ptr<platform::File>& file) override {
    if (access != platform::FileAccess::ReadExisting && IsHeld(path)) return Status::Failure(kSharing);
    return FTarget.OpenFile(path, access, share, file);
  }
  Status CopyFileOver(const std::string& source, const std::string& target) override {
    if (IsHeld(target)) return Status::Failure(kSharing);
    return FTarget.CopyFileOver(source, target);
  }
  Status RemoveAtRestart(const std::string& path) override {
    if (!Accepts) return Status::Failure("Отказано в доступе");
    std::lock_guard<std::mutex> guard(FLock);
    Removals.push_back(path);
    return Status::Ok();
  }
  Status MoveAtRestart(const std::string& source, const std::string& target) override {
    if (!Accepts) return Status::Failure("Отказано в доступе");
    std::lock_guard<std::mutex> guard(FLock);
    Replacements[target] = source;
    if (!RestartAtOnce) return Status::Ok();
    Held.erase(LowerCase(target));
    return FTarget.MoveFileReplace(source, target);
  }

  bool IsHeld(const std::string& path) {
    std::lock_guard<std::mutex> guard(FLock);
    return Held.count(LowerCase(path)) > 0;
  }
  bool Blocks(const std::string& path) {
    std::lock_guard<std::mutex> guard(FLock);
    const std::string folded = LowerCase(path);
    for (const std::string& held : Held)
      if (held == folded || held.rfind(folded + "\\", 0) == 0) return true;
    return false;
  }

  std::set<std::string> Held;  // folded paths
  bool Accepts = true, RestartAtOnce = false;
  std::vector<std::string> Removals;
  std::map<std::string, std::string> Replacements;  // target -> its new version

 private:
  std::mutex FLock;
};

class KeptFilesTest : public VersionOneTest {
 protected:
  void SetUp() override {
    VersionOneTest::SetUp();
    testing::WriteNative(FTarget.Native("app/old.dll"), "old library");
    FFiles.Held = {LowerCase(FApp + "\\sub\\b.txt"), LowerCase(FApp + "\\old.dll")};
  }

  // An upgrade through the held files (and `files` over them, when given);
  // `more` entries after the unpacking.
  TInstallerThread& Upgrade(const std::string& more = "", platform::FileSystem* files = nullptr) {
    // An earlier worker holds its package files until it goes (Windows lets
    // nobody write them meanwhile).
    FWorker.reset();
    WriteDescription("<Install>" + File("unzip", FArchive, "UnZip", "{InstallPath}") + more + "</Install>", FApp);
    platform::ScopedDefault<platform::FileSystem> scope(files ? *files : FFiles);
    FWorker = std::make_unique<TInstallerThread>();
    Attach(*FWorker);
    Run(*FWorker);
    return *FWorker;
  }

  HeldFileSystem FFiles{platform::FileSystem::BuiltIn()};
  std::unique_ptr<TInstallerThread> FWorker;
};

TEST_F(KeptFilesTest, HeldFilesGetTheNewVersionAtTheRestartAndTheRunEndsWith3010) {
  TInstallerThread& worker = Upgrade();
  ASSERT_FALSE(worker.Error()) << worker.Message();
  EXPECT_EQ(worker.Message(), kDone);
  EXPECT_TRUE(worker.RestartNeeded());
  EXPECT_EQ(worker.ExitCode(), kExitRestartNeeded);
  bool said = false;
  for (const std::string& line : FRecorded.Messages)
    said |= line.rfind("2|-|[Install] Файлы заняты и будут заменены после перезагрузки: ", 0) == 0 &&
            line.find(FApp + "\\sub\\b.txt") != std::string::npos && line.find(FApp + "\\old.dll") != std::string::npos;
  EXPECT_TRUE(said);

  Tree after = Snapshot(FTarget.Native("app"));
  // Until the restart the held files are the earlier ones; everything else
  // is the new version, and the backup is the whole earlier version.
  EXPECT_EQ(after["a.txt"], "new a");
  EXPECT_EQ(after["sub/c.txt"], "new c");
  EXPECT_EQ(after["sub/b.txt"], "old b");
  EXPECT_EQ(after["old.dll"], "old library");
  EXPECT_EQ(after["Backup/a.txt"], "old a");
  EXPECT_EQ(after["Backup/sub/b.txt"], "old b");
  EXPECT_EQ(after["Backup/sub/c.txt"], "old c");
  EXPECT_EQ(after["Backup/old.dll"], "old library");
  // The restart moves the new version in and takes the stray away.
  const std::string b = FApp + "\\sub\\b.txt";
  ASSERT_EQ(FFiles.Replacements.size(), 1u);
  ASSERT_EQ(FFiles.Replacements.count(b), 1u);
  EXPECT_EQ(testing::ReadNative(testing::TempFolder::NativeOf(FFiles.Replacements[b])), "new b");
  // The first request asked whether the system takes any, for a file of
  // the engine's own.
  ASSERT_EQ(FFiles.Removals.size(), 2u);
  EXPECT_NE(FFiles.Removals[0].find(".restart-probe"), std::string::npos);
  EXPECT_EQ(FFiles.Removals[1], FApp + "\\old.dll");
  EXPECT_FALSE(JournalLeft());
}

TEST_F(KeptFilesTest, AFailedRunPutsTheFolderBackWithHeldFilesUntouched) {
  for (bool restarted : {false, true}) {
    SCOPED_TRACE(restarted ? "a restart replaced the held file during the run" : "no restart");
    FFiles.RestartAtOnce = restarted;
    FFiles.Held = {LowerCase(FApp + "\\sub\\b.txt"), LowerCase(FApp + "\\old.dll")};
    FFiles.Replacements.clear();
    const Tree before = Snapshot(FTarget.Native("app"));
    TInstallerThread& worker = Upgrade(File("broken", "missing.txt", "Copy2", "{InstallPath}\\x"));
    ASSERT_TRUE(worker.Error());
    EXPECT_EQ(worker.ExitCode(), kExitFatal);
    EXPECT_EQ(FFiles.Replacements.size(), 1u);
    Tree after = Snapshot(FTarget.Native("app"));
    after.erase("setup.log");
    EXPECT_EQ(after, before);
    EXPECT_EQ(RegistryText("DisplayName"), "Version 1");
    EXPECT_FALSE(JournalLeft());
    fs::remove(FTarget.Native("app/setup.log"));
  }
}

TEST_F(KeptFilesTest, WithoutTheRestartListAHeldFileStopsTheUpgradeAsBefore) {
  FFiles.Accepts = false;
  const Tree before = Snapshot(FTarget.Native("app"));
  TInstallerThread& worker = Upgrade();
  ASSERT_TRUE(worker.Error());
  EXPECT_NE(worker.Message().find("Не удалось переместить \""), std::string::npos) << worker.Message();
  EXPECT_NE(worker.Message().find(kSharing), std::string::npos);
  EXPECT_NE(worker.Message().find("Прежняя версия оставлена без изменений."), std::string::npos);
  Tree after = Snapshot(FTarget.Native("app"));
  after.erase("setup.log");
  EXPECT_EQ(after, before);
  EXPECT_TRUE(FFiles.Replacements.empty());
}

// Whichever change is refused, the run ends with the earlier version as it
// was, or complete: every new file in place or waiting for the restart, the
// whole earlier version in the backup.
TEST_F(KeptFilesTest, EveryRefusedChangeEndsBeforeOrAfter) {
  testing::CountdownFileSystem files{FFiles};
  const Tree before = Snapshot(FTarget.Native("app"));
  int fail_at = 1;
  for (; fail_at < 300; ++fail_at) {
    SCOPED_TRACE("change " + std::to_string(fail_at) + " refused");
    files.FailAt = fail_at;
    files.Changes = 0;
    FFiles.Replacements.clear();
    FRecorded = {};
    const bool failed = Upgrade("", &files).Error();
    FWorker.reset();  // it holds the journal's lock
    if (JournalLeft()) {
      // A refused step of the clean-up is finished by the next start.
      TInstallerThread next;
      std::string recovery;
      next.OnMessage = [&](TInstallerThread&, const std::string& text, int, bool) { recovery += text + "\n"; };
      try {
        platform::ScopedDefault<platform::FileSystem> same_machine(FFiles);
        next.Recover();
      } catch (const std::exception& error) {
        recovery += error.what();
      }
      std::string run;
      for (const std::string& line : FRecorded.Messages) run += line + "\n";
      ASSERT_FALSE(JournalLeft()) << run << "--\n" << recovery;
    }
    Tree after = Snapshot(FTarget.Native("app"));
    if (failed) {
      after.erase("setup.log");
      EXPECT_EQ(after, before);
    } else {
      for (const auto& [name, content] : std::map<std::string, std::string>{
               {"a.txt", "new a"}, {"sub/b.txt", "new b"}, {"sub/c.txt", "new c"}}) {
        auto waiting = FFiles.Replacements.find(FApp + "\\" + (name == "a.txt" ? name : "sub\\" + name.substr(4)));
        EXPECT_EQ(waiting == FFiles.Replacements.end() ? after[name]
                                                       : testing::ReadNative(testing::TempFolder::NativeOf(waiting->second)),
                  content)
            << name;
      }
      for (const auto& [name, content] : before) {
        if (name == "setup.log") continue;
        EXPECT_EQ(after["Backup/" + name], content) << name;
      }
    }
    // Version 1 again for the next round.
    fs::remove_all(FTarget.Native("app"));
    fs::create_directories(FTarget.Native("app"));
    for (const auto& [name, content] : before)
      if (content == "<dir>")
        fs::create_directories(FTarget.Native("app/" + name));
      else
        testing::WriteNative(FTarget.Native("app/" + name), content);
    if (files.Changes < fail_at) break;  // nothing was refused: the sweep is through
  }
  EXPECT_LT(fail_at, 300);
  EXPECT_GT(fail_at, 30);
}

}  // namespace
}  // namespace volok
