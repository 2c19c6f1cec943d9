// Faults injected through the platform seams during whole install runs: the
// run either stops with a clear message and leaves no uninstaller behind, or
// goes on where a failure must not stop it.
#include <atomic>

#include "platform/file_system.h"
#include "platform/registry.h"
#include "worker_fixture.h"

namespace volok {
namespace {

namespace fs = std::filesystem;
using platform::Status;

// A file whose writes fail once `budget` bytes have been written: a disk
// that fills up.
class FillingFile final : public platform::FileWrapper {
 public:
  FillingFile(std::unique_ptr<platform::File> inner, std::atomic<long long>& budget)
      : FileWrapper(std::move(inner)), FBudget(budget) {}
  Status Write(const void* buffer, std::size_t size) override {
    // A write that does not fit fails whole and takes nothing, so a later
    // small file still fits whatever order the items come in.
    long long want = static_cast<long long>(size), left = FBudget.load();
    do {
      if (want > left) return Status::Failure("Недостаточно места на диске");
    } while (!FBudget.compare_exchange_weak(left, left - want));
    return FileWrapper::Write(buffer, size);
  }

 private:
  std::atomic<long long>& FBudget;
};

// Files created below `Folder` live on a disk with `Budget` bytes free;
// moves and log writes can be refused.
class FaultyFileSystem final : public platform::FileSystemWrapper {
 public:
  using FileSystemWrapper::FileSystemWrapper;
  Status OpenFile(const std::string& path, platform::FileAccess access, platform::FileShare share,
                  std::unique_ptr<platform::File>& file) override {
    if (RefuseLog && access == platform::FileAccess::AppendOrCreate) return Status::Failure("Отказано в доступе");
    Status status = FTarget.OpenFile(path, access, share, file);
    if (status.ok() && access == platform::FileAccess::CreateAlways && path.rfind(Folder, 0) == 0)
      file = std::make_unique<FillingFile>(std::move(file), Budget);
    return status;
  }
  Status MoveFileReplace(const std::string& source, const std::string& target) override {
    if (RefuseMoves && source.rfind(Folder, 0) == 0) return Status::Failure("Файл занят другим процессом");
    return FTarget.MoveFileReplace(source, target);
  }
  Status MakeFolder(const std::string& path) override {
    if (path.rfind(RefuseFoldersUnder, 0) == 0) return Status::Failure("Отказано в доступе");
    return FTarget.MakeFolder(path);
  }
  Status CopyFileOver(const std::string& source, const std::string& target) override {
    if (EndsWith(target, RefuseCopiesTo)) return Status::Failure("Файл занят другим процессом");
    return FTarget.CopyFileOver(source, target);
  }

  std::string Folder = "\x01";
  std::atomic<long long> Budget{1LL << 40};
  bool RefuseMoves = false;
  bool RefuseLog = false;
  std::string RefuseFoldersUnder = "\x01";
  std::string RefuseCopiesTo = "\x01";

 private:
  static bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
  }
};

class FailingRegistry final : public platform::RegistryWrapper {
 public:
  using RegistryWrapper::RegistryWrapper;
  Status SetString(platform::RegistryRoot, const std::string&, const std::string&, const std::string&) override {
    ++Refused;
    return Status::Failure("Отказано в доступе");
  }
  Status SetValues(platform::RegistryRoot, const std::string&, const std::vector<platform::NamedRegistryValue>&) override {
    ++Refused;
    return Status::Failure("Отказано в доступе");
  }
  Status DeleteKeyTree(platform::RegistryRoot, const std::string&) override {
    ++Refused;
    return Status::Failure("Отказано в доступе");
  }
  int Refused = 0;
};

class FaultTest : public WorkerTest {
 protected:
  std::string Archive() {
    testing::WriteNative(FSource.Native("small.txt"), "small");
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
    testing::WriteNative(FSource.Native("big.bin"), big);
    return PackPayload(FSource.Path());
  }

  testing::TempFolder FSource;
  FaultyFileSystem FFiles{platform::FileSystem::BuiltIn()};
};

TEST_F(FaultTest, DiskFullDuringUnZipStopsTheInstallWithoutUninstaller) {
  std::string archive = Archive();
  std::string target = FTarget.File("app");
  FFiles.Folder = target + "\\";
  FFiles.Budget = 100000;  // the small file fits, the big one does not
  platform::ScopedDefault<platform::FileSystem> scope(FFiles);
  std::string message = InstallEntries(File("unzip", archive, "UnZip", "{InstallPath}"), target);
  EXPECT_EQ(message, "Установка завершена с ошибкой: [UnZip] Ошибка распаковки файлов: Не все файлы распакованы. "
                     "Распаковано 1 из 2.");
  // The folder did not exist: what the run wrote goes again, and the folder
  // with it unless it holds the run's log, which stays to say why.
  if (fs::exists(FTarget.Native("app"))) {
    for (const auto& entry : fs::directory_iterator(FTarget.Native("app")))
      EXPECT_EQ(entry.path().filename(), "setup.log");
  }
  EXPECT_FALSE(fs::exists(FTarget.Native("app/uninstall.xml")));
  EXPECT_FALSE(fs::exists(FTarget.Native("app/uninstall.exe")));
  EXPECT_EQ(RegistryText("DisplayName"), "<missing>");
}

TEST_F(FaultTest, ARefusedRegistryFailsTheInstallAndTakesItBack) {
  FailingRegistry registry(platform::Registry::BuiltIn());
  platform::ScopedDefault<platform::Registry> scope(registry);
  std::string entries = File("w", "HKCU\\Software\\VolokFault", "RegistryWrite", "v,STRING,1") +
                        File("d", "HKCU\\Software\\VolokFault", "RegistryDelete", "\"\"");
  EXPECT_EQ(InstallEntries(entries, FTarget.File("app")),
            "Установка завершена с ошибкой: [RegistryUnInstall] Не удалось зарегистрировать программу в списке "
            "установленных программ: Отказано в доступе");
  EXPECT_GE(registry.Refused, 3);  // the entries (warnings) and the registration were refused
  EXPECT_FALSE(fs::exists(FTarget.Native("app/uninstall.xml")));
}

TEST_F(FaultTest, ARefusedBackupMoveStopsTheUpgradeBeforeAnythingIsWritten) {
  // A file left behind could be overwritten by the new version and then not
  // be restored: the upgrade does not start.
  fs::create_directories(FTarget.Native("app"));
  testing::WriteNative(FTarget.Native("app/locked.dat"), "user data");
  ASSERT_TRUE(platform::Registry::Default().CreateKey(RegistryRoot::LocalMachine, RegistrationKey()).ok());
  ASSERT_TRUE(platform::Registry::Default()
                  .SetString(RegistryRoot::LocalMachine, RegistrationKey(), "InstallLocation", FTarget.File("app"))
                  .ok());
  FFiles.RefuseMoves = true;
  FFiles.Folder = FTarget.File("app") + "\\";
  platform::ScopedDefault<platform::FileSystem> scope(FFiles);
  // The message names the file that stood in the way and says that the
  // earlier version is as it was.
  EXPECT_EQ(InstallEntries(File("one", "x", "Nothing", "y"), FTarget.File("app")),
            "Установка завершена с ошибкой: Невозможно создать каталог для резервного копирования. "
            "Не удалось переместить \"" + FTarget.File("app\\locked.dat") + "\": Файл занят другим процессом"
            ". Прежняя версия оставлена без изменений.");
  EXPECT_EQ(testing::ReadNative(FTarget.Native("app/locked.dat")), "user data");
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(FTarget.Native("app"))) left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"locked.dat"});
}

TEST_F(FaultTest, AnUnwritableLogFileIsNoError) {
  FFiles.RefuseLog = true;
  platform::ScopedDefault<platform::FileSystem> scope(FFiles);
  WriteDescription("<Install>" + File("one", "x", "Nothing", "y") + "</Install>", FTarget.File("app"));
  TInstallerThread worker;
  worker.OnMessage = &TInstallerThread::LogSilent;
  Run(worker);
  EXPECT_FALSE(worker.Error()) << worker.Message();
  EXPECT_FALSE(fs::exists(FTarget.Native("app/setup.log")));
  EXPECT_TRUE(fs::exists(FTarget.Native("app/uninstall.xml")));
}

TEST_F(FaultTest, AnInstallFolderThatCannotBeCreatedEndsTheInstall) {
  std::string target = FTarget.File("app");
  FFiles.RefuseFoldersUnder = target;
  platform::ScopedDefault<platform::FileSystem> scope(FFiles);
  EXPECT_EQ(InstallEntries(File("one", "x", "Nothing", "y"), target + "\\sub"),
            "Установка завершена с ошибкой: Невозможно создать папку для установки программы.");
  EXPECT_FALSE(Logged("4|-|[Operation] one"));
  EXPECT_FALSE(fs::exists(FTarget.Native("app")));
  EXPECT_EQ(RegistryText("DisplayName"), "<missing>");
}

TEST_F(FaultTest, AFailedUninstallerCopyStillCompletesTheInstall) {
  FFiles.RefuseCopiesTo = "\\uninstall.exe.tmp";
  platform::ScopedDefault<platform::FileSystem> scope(FFiles);
  EXPECT_EQ(InstallEntries(File("one", "x", "Nothing", "y"), FTarget.File("app")), "[Install] Установка завершена.");
  EXPECT_FALSE(fs::exists(FTarget.Native("app/uninstall.exe")));
  EXPECT_TRUE(fs::exists(FTarget.Native("app/uninstall.xml")));
  EXPECT_EQ(RegistryText("DisplayName"), "Demo {Version}");
}

// A file in use: whole-tree deletes leave "bin\busy.dat" and its folders, and
// the restart list takes them or not.
class BusyFileSystem final : public platform::FileSystemWrapper {
 public:
  using FileSystemWrapper::FileSystemWrapper;
  Status ShellDelete(const std::string& path, bool permanent) override {
    if (!permanent) return FTarget.ShellDelete(path, permanent);
    std::vector<platform::FileEntry> entries;
    if (FTarget.ListFolder(path, entries).ok())
      for (const platform::FileEntry& entry : entries)
        if (entry.Name != "bin") (void)FTarget.ShellDelete(path + "\\" + entry.Name, true);
    return Status::Failure("Файл занят другим процессом");
  }
  // As on Windows, a folder holding an open file cannot be renamed.
  Status MoveFileReplace(const std::string& source, const std::string& target) override {
    if (Busy.rfind(source, 0) == 0) return Status::Failure("Файл занят другим процессом");
    return FTarget.MoveFileReplace(source, target);
  }
  Status RemoveAtRestart(const std::string& path) override {
    if (!RestartListAccepts) return Status::Failure("Отказано в доступе");
    Scheduled.push_back(path);
    return Status::Ok();
  }
  bool RestartListAccepts = false;
  std::string Busy;
  std::vector<std::string> Scheduled;
};

TEST_F(FaultTest, AnUninstallThatLeavesFilesSaysWhichAndKeepsOrSchedulesThem) {
  for (bool restart : {false, true}) {
    SCOPED_TRACE(restart);
    const std::string app = FTarget.File("app");
    fs::create_directories(FTarget.Native("app/bin"));
    testing::WriteNative(FTarget.Native("app/bin/busy.dat"), "in use");
    testing::WriteNative(FTarget.Native("app/gone.txt"), "free");
    ASSERT_TRUE(platform::Registry::Default().CreateKey(RegistryRoot::LocalMachine, RegistrationKey()).ok());
    ASSERT_TRUE(platform::Registry::Default().SetString(RegistryRoot::LocalMachine, RegistrationKey(), "DisplayName", "v1").ok());
    WriteDescription("<UnInstall>" + File("del", app, "DeleteFolder", "{InstallPath}") + "</UnInstall>", app);
    BusyFileSystem files(platform::FileSystem::BuiltIn());
    files.RestartListAccepts = restart;
    files.Busy = app + "\\bin\\busy.dat";
    platform::ScopedDefault<platform::FileSystem> scope(files);
    TInstallerThread worker;
    ASSERT_FALSE(worker.Error()) << worker.Message();
    Attach(worker);
    Run(worker);
    const std::string left = app + "\\bin\\busy.dat, " + app + "\\bin, " + app;
    if (restart) {
      // Done, but only at the restart: contents before their folders.
      EXPECT_FALSE(worker.Error()) << worker.Message();
      EXPECT_TRUE(worker.RestartNeeded());
      EXPECT_EQ(files.Scheduled, (std::vector<std::string>{app + "\\bin\\busy.dat", app + "\\bin", app}));
      EXPECT_TRUE(Logged("2|-|[UnInstall] Файлы заняты и будут удалены после перезагрузки: " + left));
      EXPECT_EQ(RegistryText("DisplayName"), "<missing>");
    } else {
      // Not done: the registration stays, so it can be uninstalled again.
      EXPECT_TRUE(worker.Error());
      EXPECT_FALSE(worker.RestartNeeded());
      EXPECT_EQ(worker.Message(), "Удаление завершена с ошибкой: Не удалось удалить: " + left + ".");
      EXPECT_EQ(RegistryText("DisplayName"), "v1");
    }
    EXPECT_FALSE(fs::exists(FTarget.Native("app/gone.txt")));
    fs::remove_all(FTarget.Native("app"));
  }
}

}  // namespace
}  // namespace volok
