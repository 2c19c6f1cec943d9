// The entry helpers that let an uninstaller remove the folder it started
// from: the temporary-folder test, the relaunch copy, and the self-delete.
#include "app/entry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#ifndef _WIN32
#include <unistd.h>
#endif
#include <cstdlib>

#include "common/app_paths.h"
#include "common/crypt.h"
#include "common/file_utils.h"
#include "common/main_thread.h"
#include "common/text_file.h"
#include "engine/installer_thread.h"
#include "platform/file_system.h"
#include "scoped_env.h"
#include "sealed_package.h"
#include "temp_folder.h"

namespace volok {
namespace {

namespace fs = std::filesystem;

class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override { FSaved = ExeFileName(); }
  void TearDown() override { SetExeFileName(FSaved); }

  // An installed "uninstall.exe" (a program that fails whatever its
  // arguments) started as the relaunched copy, its original moved out.
  static TRelaunch StartFailingCopy(const testing::TempFolder& install) {
#ifdef _WIN32
    fs::copy_file("C:\\windows\\system32\\cmd.exe", install.Native("uninstall.exe"));
    const std::string fail = " /c exit 7";
#else
    fs::copy_file("/bin/false", install.Native("uninstall.exe"));
    const std::string fail;
#endif
    testing::WriteNative(install.Native("uninstall.xml"), "description");
    SetExeFileName(install.File("uninstall.exe"));
    return RelaunchFromTemp(false, {fail, true});
  }

  // A small real program to copy and start: it must end by itself whatever
  // its arguments.
  static std::string HarmlessProgram() {
#ifdef _WIN32
    return "C:\\windows\\system32\\hostname.exe";
#else
    return "Z:\\bin\\true";
#endif
  }

  static bool WaitGone(const fs::path& path) {
    for (int i = 0; i < 200; ++i) {
      if (!fs::exists(path)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  std::string FSaved;
};

TEST_F(EntryTest, RunningFromTempMeansInsideItNotBesideIt) {
  std::string temp = GetTempFolder();
  ASSERT_FALSE(temp.empty());
  SetExeFileName(temp + "\\x\\uninstall.exe");
  EXPECT_TRUE(IsRunningFromTemp());
  SetExeFileName(temp + "\\uninstall.exe");
  EXPECT_TRUE(IsRunningFromTemp());
  SetExeFileName(temp + "2\\setup.exe");  // a sibling that starts the same
  EXPECT_FALSE(IsRunningFromTemp());
  SetExeFileName("C:\\Program Files\\App\\uninstall.exe");
  EXPECT_FALSE(IsRunningFromTemp());
}

TEST_F(EntryTest, RelaunchCopiesIntoAFreshFolderUnderFixedNames) {
  testing::TempFolder install;
  fs::copy_file(testing::TempFolder::NativeOf(HarmlessProgram()), install.Native("my-uninstaller.exe"));
  testing::WriteNative(install.Native("my-uninstaller.xml"), "description");
  SetExeFileName(install.File("my-uninstaller.exe"));
  std::string first = RelaunchFromTemp(true).Copy;
  std::string second = RelaunchFromTemp(false).Copy;
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first, second);
  for (const std::string& copy : {first, second}) {
    std::string folder = ExtractFilePath(copy);
    EXPECT_EQ(ExtractFileName(copy), "uninstall.exe");
    EXPECT_EQ(folder.rfind(IncludeTrailingDelimiter(GetTempFolder()) + kRelaunchFolderPrefix, 0), 0u) << folder;
    SetExeFileName(copy);
    EXPECT_TRUE(IsRunningFromTemp());
    EXPECT_TRUE(IsRelaunchedCopy());
    // The relaunched copy's own end: the batch removes it all.
    std::string xml = ChangeFileExt(copy, ".xml");
    WriteSelfDeleteBatch();
    SetExeFileName(install.File("my-uninstaller.exe"));
    (void)xml;
  }
  // The batches ran after a short delay; everything of the copies is gone.
  for (const std::string& copy : {first, second}) {
    fs::path native = fs::path(testing::TempFolder::NativeOf(ExtractFilePath(copy)));
    EXPECT_TRUE(WaitGone(native)) << native;
  }
}

TEST_F(EntryTest, RelaunchedCopyIsKnownByItsFolderWhateverTheTemporaryFolder) {
  // Should the environment point elsewhere when the copy starts, it must
  // still not relaunch itself again and again.
  SetExeFileName("C:\\Elsewhere\\volok-uninstall-0123456789abcdef\\uninstall.exe");
  EXPECT_TRUE(IsRelaunchedCopy());
  EXPECT_TRUE(IsRunningFromTemp());
  for (const char* folder : {"volok-uninstall-0123", "volok-uninstall-0123456789ABCDEF", "volok-uninstall-0123456789abcdef0",
                             "my-volok-uninstall-0123456789abcdef"}) {
    SetExeFileName(std::string("C:\\Program Files\\") + folder + "\\uninstall.exe");
    EXPECT_FALSE(IsRelaunchedCopy()) << folder;
    EXPECT_FALSE(IsRunningFromTemp()) << folder;
  }
}

#ifndef _WIN32
TEST_F(EntryTest, TemporaryFolderReachedThroughALinkStillCounts) {
  testing::TempFolder scratch;
  fs::create_directories(scratch.Native("real/pkg"));
  fs::create_directory_symlink(scratch.Native("real"), scratch.Native("link"));
  testing::WriteNative(scratch.Native("real/pkg/uninstall.exe"), "x");
  {
    testing::ScopedTempFolder temp(scratch.Native("link"));
    SetExeFileName(scratch.File("real\\pkg\\uninstall.exe"));
    EXPECT_TRUE(IsRunningFromTemp());
  }
  testing::ScopedTempFolder temp(scratch.Native("real"));
  SetExeFileName(scratch.File("link\\pkg\\uninstall.exe"));
  EXPECT_TRUE(IsRunningFromTemp());
}
#endif

TEST_F(EntryTest, SilentUninstallWhoseRelaunchFailsSaysWhyAndExitsFatal) {
  testing::TempFolder scratch;
  fs::create_directories(scratch.Native("app"));
  std::string xml = "<?xml version=\"1.0\"?><Installer><Company>c</Company><Name>n</Name><ShortName>s</ShortName>"
                    "<InstallPath>p</InstallPath><UnInstall><File><Name>n</Name><FileName>f</FileName>"
                    "<Action>DeleteFile</Action><Destination>d</Destination></File></UnInstall></Installer>";
  WriteTextFile(EncryptText(xml), scratch.File("app\\uninstall.xml"), 65001);
  fs::copy_file(testing::TempFolder::NativeOf(HarmlessProgram()), scratch.Native("app/uninstall.exe"));
  SetExeFileName(scratch.File("app\\uninstall.exe"));
  SetLogFileName(scratch.File("app\\uninstall.log"));
  MainThreadQueue::Instance().BindToCurrentThread();
  testing::ScopedTempFolder missing(scratch.Native("no such folder"));
  EXPECT_EQ(RunSilent({"uninstall.exe", "silent"}), kExitFatal);
  // The original never left its folder.
  EXPECT_TRUE(fs::exists(scratch.Native("app/uninstall.exe")));
  std::string log = testing::ReadNative(scratch.Native("app/uninstall.log"));
  EXPECT_NE(log.find("Fatal [Relaunch] Не удалось создать папку в папке временных файлов: "), std::string::npos) << log;
  EXPECT_FALSE(fs::exists(scratch.Native("no such folder")));
}

// The install folder refuses every write of its log.
class NoLogInFolder final : public platform::FileSystemWrapper {
 public:
  NoLogInFolder(platform::FileSystem& target, std::string log) : FileSystemWrapper(target), FLog(std::move(log)) {}
  platform::Status OpenFile(const std::string& path, platform::FileAccess access, platform::FileShare share,
                            std::unique_ptr<platform::File>& file) override {
    if (path == FLog) return platform::Status::Failure("Отказано в доступе");
    return FTarget.OpenFile(path, access, share, file);
  }

 private:
  std::string FLog;
};

TEST_F(EntryTest, AnInstallFolderThatCannotHoldItsLogLeavesTheReasonBesideTheEngine) {
  testing::TempFolder scratch;
  testing::ScopedTempFolder temp(scratch.NativePath());
  testing::ScopedEnv registry("VOLOK_REGISTRY_DIR", scratch.Native("registry").string());
  testing::ScopedEnv journal("VOLOK_JOURNAL_DIR", scratch.Native("journal").string());
  fs::create_directories(scratch.Native("pkg"));
  std::string xml = "<?xml version=\"1.0\"?><Installer><Company>c</Company><Name>n</Name><ShortName>s</ShortName>"
                    "<InstallPath>" + scratch.File("app") + "</InstallPath><Install><File><Name>n</Name>"
                    "<FileName>" + scratch.File("missing.txt") + "</FileName><Action>Copy2</Action><Destination>{InstallPath}\\x</Destination>"
                    "</File></Install></Installer>";
  WriteTextFile(EncryptText(xml), scratch.File("pkg\\setup.xml"), 65001);
  testing::WriteNative(scratch.Native("pkg/setup.exe"), "not really a program");
  SetExeFileName(scratch.File("pkg\\setup.exe"));
  SetLogFileName(scratch.File("pkg\\setup.log"));
  ScopedManifestRecord sealed(testing::SealStandIn(ExeFileName()));
  MainThreadQueue::Instance().BindToCurrentThread();
  NoLogInFolder files(platform::FileSystem::Default(), scratch.File("app\\setup.log"));
  platform::ScopedDefault<platform::FileSystem> scope(files);
  EXPECT_EQ(RunSilent({"setup.exe", "silent"}), kExitFatal);
  std::string log = testing::ReadNative(scratch.Native("pkg/setup.log"));
  EXPECT_NE(log.find("Fatal Установка завершена с ошибкой: [CopyFile] Исходный файл не найден: "), std::string::npos)
      << log;
}

TEST_F(EntryTest, OnlyTheRelaunchedCopyDeletesItself) {
  // A package the user unpacked below the temporary folder stays whole.
  testing::TempFolder scratch;
  testing::ScopedTempFolder temp(scratch.NativePath());
  fs::create_directories(scratch.Native("pkg"));
  testing::WriteNative(scratch.Native("pkg/setup.exe"), "engine");
  testing::WriteNative(scratch.Native("pkg/setup.xml"), "description");
  SetExeFileName(scratch.File("pkg\\setup.exe"));
  ASSERT_TRUE(IsRunningFromTemp());
  WriteSelfDeleteBatch();
  EXPECT_FALSE(fs::exists(scratch.Native("pkg/setup.bat")));
  EXPECT_FALSE(fs::exists(scratch.Native("pkg.bat")));
  EXPECT_TRUE(fs::exists(scratch.Native("pkg/setup.exe")));
}

TEST_F(EntryTest, BatchRemovesAReadOnlyCopyInAnAwkwardlyNamedTemporaryFolder) {
  // Cyrillic letters, blanks and the characters cmd treats specially.
  testing::TempFolder scratch, install;
  fs::path temp_native = scratch.NativePath() / fs::u8path("Врем 100% !a! ^b & (c)");
  fs::create_directories(temp_native);
  testing::ScopedTempFolder temp(temp_native);
  fs::copy_file(testing::TempFolder::NativeOf(HarmlessProgram()), install.Native("uninstall.exe"));
  testing::WriteNative(install.Native("uninstall.xml"), "description");
  fs::permissions(install.Native("uninstall.exe"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  SetExeFileName(install.File("uninstall.exe"));
  TRelaunch relaunch = RelaunchFromTemp(false);
  ASSERT_EQ(relaunch.Failure, "");
  SetExeFileName(relaunch.Copy);
  ASSERT_TRUE(IsRelaunchedCopy());
  {
    // A copy still held open at first, as by a process slow to end: the
    // batch keeps trying.
    std::ifstream held(testing::TempFolder::NativeOf(relaunch.Copy), std::ios::binary);
    WriteSelfDeleteBatch();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  }
  std::string folder = ExcludeTrailingDelimiter(ExtractFilePath(relaunch.Copy));
  EXPECT_TRUE(WaitGone(testing::TempFolder::NativeOf(folder)));
  for (const auto& left : fs::directory_iterator(temp_native)) ADD_FAILURE() << "left: " << left.path();
  fs::permissions(install.Native("uninstall.exe"), fs::perms::owner_write, fs::perm_options::add);
}

TEST_F(EntryTest, ACommandLineNotUnderstoodDoesNothingAndExits1639) {
  testing::TempFolder scratch;
  testing::ScopedTempFolder temp(scratch.NativePath());
  SetExeFileName(scratch.File("pkg\\setup.exe"));
  SetLogFileName(scratch.File("pkg\\setup.log"));
  for (std::vector<std::string> line : {std::vector<std::string>{"setup.exe", "silent", "/norestart", "C:\\x"},
                                        {"setup.exe", "/S", "/bogus"},
                                        {"setup.exe", "silent", "C:\\x", "extra"}}) {
    EXPECT_EQ(RunProgramMain(line), kExitBadCommandLine);
    EXPECT_EQ(RunSilent(line), kExitBadCommandLine);
  }
  // Not even the description was read: no log, nothing anywhere.
  EXPECT_TRUE(fs::is_empty(scratch.NativePath()));
}

TEST_F(EntryTest, TheRelaunchFolderIsPrivateAndItsBatchIsNeverOneFoundThere) {
  testing::TempFolder scratch, install;
  testing::ScopedTempFolder temp(scratch.NativePath());
  fs::copy_file(testing::TempFolder::NativeOf(HarmlessProgram()), install.Native("uninstall.exe"));
  testing::WriteNative(install.Native("uninstall.xml"), "description");
  SetExeFileName(install.File("uninstall.exe"));
  TRelaunch relaunch = RelaunchFromTemp(false, {"", true});
  ASSERT_EQ(relaunch.Failure, "");
  std::string folder = ExtractFilePath(relaunch.Copy);
  // The original left its install folder and waits in the private one.
  EXPECT_FALSE(fs::exists(install.Native("uninstall.exe")));
  EXPECT_EQ(relaunch.Moved, folder + kMovedOriginalName);
  EXPECT_EQ(WaitForRelaunch(relaunch), 0);
#ifndef _WIN32
  EXPECT_EQ(fs::status(testing::TempFolder::NativeOf(folder)).permissions() & fs::perms::all, fs::perms::owner_all);
#endif
  // A batch of that name already there (left by a copy killed while it
  // wrote it) is never written through or run: its line would have deleted
  // the marker. The run's own batch replaces it and removes the folder.
  testing::WriteNative(scratch.Native("marker"), "x");
  std::string batch = folder + "uninstall.bat";
  testing::WriteNative(testing::TempFolder::NativeOf(batch), "@del /f /q ..\\marker\r\n");
  SetExeFileName(relaunch.Copy);
  WriteSelfDeleteBatch();
  EXPECT_TRUE(WaitGone(testing::TempFolder::NativeOf(folder)));
  EXPECT_TRUE(fs::exists(scratch.Native("marker")));
}

TEST_F(EntryTest, ACopyThatFailedPutsTheOriginalBackForTheRegistration) {
  testing::TempFolder scratch, install;
  testing::ScopedTempFolder temp(scratch.NativePath());
  TRelaunch relaunch = StartFailingCopy(install);
  ASSERT_EQ(relaunch.Failure, "");
  EXPECT_NE(WaitForRelaunch(relaunch), 0);
  EXPECT_TRUE(fs::exists(install.Native("uninstall.exe")));
}

// A copy killed mid-run may have set the install folder aside: the
// original has nowhere to go until the journal's recovery brings the folder
// back, and it must not stay in the relaunch folder, which a later start
// removes as stale.
TEST_F(EntryTest, AKilledCopysFolderIsRecoveredBeforeTheOriginalGoesBack) {
  testing::TempFolder scratch, install;
  testing::ScopedTempFolder temp(scratch.NativePath());
  TRelaunch relaunch = StartFailingCopy(install);
  ASSERT_EQ(relaunch.Failure, "");
  const fs::path aside = install.NativePath().string() + ".aside";
  fs::rename(install.NativePath(), aside);
  int recoveries = 0;
  EXPECT_NE(WaitForRelaunch(relaunch, [&] {
              ++recoveries;
              // The recovery's guard must not see the install folder as
              // this engine's own: it would refuse the journal.
              EXPECT_EQ(ExeFileName(), relaunch.Moved);
              fs::rename(aside, install.NativePath());
            }),
            0);
  EXPECT_EQ(recoveries, 1);
  EXPECT_EQ(ExeFileName(), install.File("uninstall.exe"));
  EXPECT_TRUE(fs::exists(install.Native("uninstall.exe")));
  EXPECT_TRUE(relaunch.Moved.empty());
  // A recovery that cannot run leaves the original where it is, unharmed.
  fs::remove(install.Native("uninstall.exe"));
  relaunch = StartFailingCopy(install);
  ASSERT_EQ(relaunch.Failure, "");
  fs::rename(install.NativePath(), aside);
  EXPECT_NE(WaitForRelaunch(relaunch, [] { throw std::runtime_error("the journal is locked"); }), 0);
  EXPECT_TRUE(fs::exists(testing::TempFolder::NativeOf(relaunch.Moved)));
  fs::rename(aside, install.NativePath());
}

TEST_F(EntryTest, StaleRelaunchFoldersOfKilledRunsGoAtTheNextStart) {
  testing::TempFolder scratch;
  testing::ScopedTempFolder temp(scratch.NativePath());
  // An hour ago, as a FILETIME (100 ns since 1601).
  const auto unix_now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch()).count();
  const platform::FileTime old = static_cast<platform::FileTime>(unix_now - 3600 + 11644473600LL) * 10000000u;
  auto age = [&](const std::string& name) {
    ASSERT_TRUE(platform::FileSystem::Default().SetLastWriteTime(scratch.File(name), old).ok());
  };
  auto make = [&](const std::string& name, bool aged) {
    fs::create_directories(scratch.Native(name));
    testing::WriteNative(scratch.Native(name + "/uninstall.exe"), "x");
    testing::WriteNative(scratch.Native(name + "/uninstall.xml"), "x");
    if (aged) age(name);
  };
  make("volok-uninstall-0123456789abcdef", true);   // killed long ago
  make("volok-uninstall-fedcba9876543210", false);  // a relaunch just starting
  make("volok-uninstall-mine", true);               // not a name the relaunch gives
  fs::create_directories(scratch.Native("volok-uninstall-aaaaaaaaaaaaaaaa"));
  testing::WriteNative(scratch.Native("volok-uninstall-aaaaaaaaaaaaaaaa/user.txt"), "kept");
  age("volok-uninstall-aaaaaaaaaaaaaaaa");
  SetExeFileName(scratch.File("pkg\\setup.exe"));
  RemoveStaleRelaunchFolders();
  EXPECT_FALSE(fs::exists(scratch.Native("volok-uninstall-0123456789abcdef")));
  EXPECT_TRUE(fs::exists(scratch.Native("volok-uninstall-fedcba9876543210/uninstall.exe")));
  EXPECT_TRUE(fs::exists(scratch.Native("volok-uninstall-mine/uninstall.exe")));
  // Only the names a relaunch creates are ever deleted.
  EXPECT_TRUE(fs::exists(scratch.Native("volok-uninstall-aaaaaaaaaaaaaaaa/user.txt")));
}

#ifndef _WIN32
// An account that may write the temporary folder cannot reach into the
// relaunch folder of root's run: its batch line never runs.
TEST_F(EntryTest, AnotherAccountCannotPlantTheBatchOfRootsRelaunch) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root and a second account";
  testing::TempFolder scratch, install;
  fs::permissions(scratch.NativePath(), fs::perms::all | fs::perms::sticky_bit);
  testing::ScopedTempFolder temp(scratch.NativePath());
  fs::copy_file("/bin/true", install.Native("uninstall.exe"));
  testing::WriteNative(install.Native("uninstall.xml"), "description");
  SetExeFileName(install.File("uninstall.exe"));
  TRelaunch relaunch = RelaunchFromTemp(true);
  ASSERT_EQ(relaunch.Failure, "");
  (void)WaitForRelaunch(relaunch);
  fs::path folder = testing::TempFolder::NativeOf(ExtractFilePath(relaunch.Copy));
  testing::WriteNative(scratch.Native("marker"), "x");
  std::string plant = "setpriv --reuid 65534 --regid 65534 --clear-groups sh -c \"printf '@del /f /q ..\\\\\\\\marker\\\\r\\\\n' > '" +
                      (folder / "uninstall.bat").string() + "'\" 2>/dev/null";
  // The account does reach the temporary folder itself.
  std::string control = "setpriv --reuid 65534 --regid 65534 --clear-groups sh -c \"echo x > '" +
                        scratch.Native("theirs").string() + "'\"";
  ASSERT_EQ(std::system(control.c_str()), 0);
  EXPECT_NE(std::system(plant.c_str()), 0);
  EXPECT_FALSE(fs::exists(folder / "uninstall.bat"));
  SetExeFileName(relaunch.Copy);
  WriteSelfDeleteBatch();
  EXPECT_TRUE(WaitGone(folder));
  EXPECT_TRUE(fs::exists(scratch.Native("marker")));
}
#endif

}  // namespace
}  // namespace volok
