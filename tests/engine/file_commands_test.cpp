// The file commands inside real install runs.
#include "platform/code_pages.h"
#include "platform/file_system.h"
#include "platform/shell.h"
#include "scoped_env.h"
#include "worker_fixture.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace volok {
namespace {

namespace fs = std::filesystem;
TEST_F(WorkerTest, CopyKeepsSubFoldersAndMakesMissingOnesInsideTheInstallFolderOnly) {
  fs::create_directories(FPackage.Native("bin"));
  testing::WriteNative(FPackage.Native("bin/a.dll"), "dll");
  std::string target = FTarget.File("app");
  // The install folder is emptied into Backup first: copy beside it.
  fs::create_directories(FTarget.Native("dest/bin"));
  fs::create_directories(FTarget.Native("other"));
  std::string entries = File("copy", "bin\\a.dll", "Copy", FTarget.File("dest")) +
                        File("copy into new folders", "bin\\a.dll", "copy", "{installpath}\\lib") +
                        File("copy2", FPackage.File("bin\\a.dll"), "Copy2", FTarget.File("other\\renamed.dll"));
  EXPECT_EQ(InstallEntries(entries, target), kDone);
  EXPECT_EQ(testing::ReadNative(FTarget.Native("dest/bin/a.dll")), "dll");
  EXPECT_EQ(testing::ReadNative(FTarget.Native("app/lib/bin/a.dll")), "dll");
  EXPECT_EQ(testing::ReadNative(FTarget.Native("other/renamed.dll")), "dll");

  // Outside the install folder a missing folder is the description's
  // mistake: the install fails instead of silently missing the file.
  EXPECT_EQ(InstallEntries(File("copy missing folder", "bin\\a.dll", "Copy", FTarget.File("nowhere")), target),
            "Установка завершена с ошибкой: [Copy]: Папка назначения не существует: " + FTarget.File("nowhere") +
                "\\bin\\.");
  EXPECT_FALSE(fs::exists(FTarget.Native("nowhere")));
}

TEST_F(WorkerTest, MissingCopySourceEndsTheInstall) {
  // A package file is refused before anything changes; any other source
  // when the run comes to it.
  EXPECT_EQ(InstallEntries(File("copy", "none.txt", "Copy", "{InstallPath}"), FTarget.File("app")),
            std::string("construction: ") + kChecksumMessage);
  EXPECT_FALSE(fs::exists(FTarget.Native("app")));
  EXPECT_EQ(InstallEntries(File("copy", FPackage.File("none.txt"), "Copy2", "{InstallPath}\\x"), FTarget.File("app")),
            "Установка завершена с ошибкой: [CopyFile] Исходный файл не найден: " + FPackage.File("none.txt") + ".");
}

TEST_F(WorkerTest, TextCommandsReplacePlaceholdersAndWriteCodePage1251) {
  testing::WriteNative(FPackage.Native("readme.txt"), "\xEF\xBB\xBFПрограмма {ShortName} в {InstallPath}; {Unknown}");
  std::string target = FTarget.File("app");
  // ProcessText reads its file through the ANSI code page unless it has a
  // byte-order mark; this one has one, so the test holds on any system.
  testing::WriteNative(FTarget.Native("in-place.txt"), "\xEF\xBB\xBF{Name}: Ёж");
  std::string entries = File("text", "readme.txt", "CopyText", "{InstallPath}") +
                        File("process", FTarget.File("in-place.txt"), "ProcessText", "-");
  EXPECT_EQ(InstallEntries(entries, target), kDone);
  auto cp1251 = [](const std::string& text) {
    std::string bytes;
    EXPECT_TRUE(platform::CodePages::Default().Encode(1251, text, bytes).ok());
    return bytes;
  };
  EXPECT_EQ(testing::ReadNative(FTarget.Native("app/readme.txt")),
            cp1251("Программа " + FShortName + " в " + target + "; {Unknown}"));
  EXPECT_EQ(testing::ReadNative(FTarget.Native("in-place.txt")), cp1251("Demo 1.2.3.4: Ёж"));
  EXPECT_EQ(InstallEntries(File("process", FTarget.File("none.txt"), "ProcessText", "-"), FTarget.File("b")),
            "Установка завершена с ошибкой: [CopyFile] Исходный файл не найден: " + FTarget.File("none.txt") + ".");
}

TEST_F(WorkerTest, DeleteCommandsRemoveFilesAndFoldersSilently) {
  fs::create_directories(FTarget.Native("old/sub"));
  testing::WriteNative(FTarget.Native("old/sub/x.txt"), "x");
  testing::WriteNative(FTarget.Native("file.txt"), "y");
  std::string entries = File("a", FTarget.File("old"), "DeleteFile", "-") +
                        File("b", FTarget.File("file.txt"), "DeleteFolder", "-") +
                        File("c", FTarget.File("missing"), "DeleteFolder", "-");
  EXPECT_EQ(InstallEntries(entries, FTarget.File("app")), kDone);
  EXPECT_FALSE(fs::exists(FTarget.Native("old")));
  EXPECT_FALSE(fs::exists(FTarget.Native("file.txt")));
}

TEST_F(WorkerTest, DeleteMasksExpandInTheirOwnFolderOnly) {
  fs::create_directories(FTarget.Native("app/keep.tmp.d"));
  fs::create_directories(FTarget.Native("app/sub"));
  for (const char* name : {"app/a.tmp", "app/B.TMP", "app/c.txt", "app/sub/d.tmp", "app/keep.tmp.d/e.tmp"})
    testing::WriteNative(FTarget.Native(name), "x");
  fs::create_directories(FTarget.Native("app/old1"));
  fs::create_directories(FTarget.Native("app/old22"));
  std::string entries = File("a", FTarget.File("app\\*.tmp"), "DeleteFile", "-") +
                        File("b", FTarget.File("app\\old?"), "DeleteFolder", "-") +
                        File("c", FTarget.File("app\\*\\d.tmp"), "DeleteFile", "-");
  EXPECT_EQ(InstallEntries(entries, FTarget.File("other")), kDone);
  EXPECT_FALSE(fs::exists(FTarget.Native("app/a.tmp")));
  EXPECT_FALSE(fs::exists(FTarget.Native("app/B.TMP")));
  EXPECT_FALSE(fs::exists(FTarget.Native("app/old1")));
  for (const char* kept : {"app/c.txt", "app/sub/d.tmp", "app/keep.tmp.d/e.tmp", "app/old22"})
    EXPECT_TRUE(fs::exists(FTarget.Native(kept))) << kept;
}

TEST_F(WorkerTest, DeleteMasksInFoldersAnInstallMayNotOwnDeleteNothing) {
  // The temporary folder and the drive are scratch folders of the test's
  // own, so a guard that fails still reaches nothing real.
  testing::TempFolder scratch_temp, scratch_drive;
  testing::ScopedTempFolder temp(scratch_temp.NativePath());
  for (const testing::TempFolder* folder : {&scratch_temp, &scratch_drive, &FPackage})
    testing::WriteNative(folder->Native("victim.txt"), "x");
  std::string entries = File("a", "{Temp}\\*", "DeleteFile", "-") + File("b", "{InstallerPath}\\*.*", "DeleteFolder", "-") +
                        File("c", "*.txt", "DeleteFile", "-");
#ifdef _WIN32
  ASSERT_TRUE(DefineDosDeviceW(0, L"Q:", testing::TempFolder::NativeOf(scratch_drive.Path()).wstring().c_str()));
  entries += File("d", "Q:\\*", "DeleteFolder", "-") + File("e", "Q:*", "DeleteFile", "-") +
             File("f", "\\\\server\\share\\*", "DeleteFile", "-");
#endif
  testing::ScopedCurrentFolder current(scratch_drive.NativePath());
  EXPECT_EQ(InstallEntries(entries, FTarget.File("app")), kDone);
#ifdef _WIN32
  DefineDosDeviceW(DDD_REMOVE_DEFINITION, L"Q:", nullptr);
#endif
  for (const testing::TempFolder* folder : {&scratch_temp, &scratch_drive, &FPackage})
    EXPECT_TRUE(fs::exists(folder->Native("victim.txt"))) << folder->Path();
}

class EmptyFolders final : public platform::Shell {
 public:
  std::string SpecialFolder(platform::SpecialFolderId) override { return ""; }
  platform::Status CreateShellLink(const std::string&, const std::string&, const std::string&, const std::string&,
                                   bool& saved) override {
    saved = false;
    return platform::Status::Ok();
  }
};

class UnZipTest : public WorkerTest {
 protected:
  std::string MakeArchive() {
    fs::create_directories(FSource.Native("empty"));
    fs::create_directories(FSource.Native("Папка"));
    testing::WriteNative(FSource.Native("Папка/файл.txt"), "содержимое");
    testing::WriteNative(FSource.Native("top.bin"), std::string(1000, 'z'));
    return PackPayload(FSource.Path());
  }
  testing::TempFolder FSource;
};

TEST_F(UnZipTest, UnpacksEverythingAndListsTheItems) {
  std::string archive = MakeArchive();
  std::string target = FTarget.File("app");
  EXPECT_EQ(InstallEntries(File("unzip", archive, "UnZip", "{InstallPath}\\data"), target), kDone);
  EXPECT_EQ(testing::ReadNative(FTarget.Native("app/data/Папка/файл.txt")), "содержимое");
  EXPECT_TRUE(fs::is_directory(FTarget.Native("app/data/empty")));
  auto report = std::find_if(FRecorded.Messages.begin(), FRecorded.Messages.end(),
                             [](const std::string& m) { return m.find("[UnZip] Файлов в архиве: ") != std::string::npos; });
  ASSERT_NE(report, FRecorded.Messages.end());
  EXPECT_NE(report->find("[UnZip] Файлов в архиве: 4\r\n"), std::string::npos) << *report;
  EXPECT_NE(report->find("[UnZip] Файл: Папка/файл.txt\r\n"), std::string::npos) << *report;
  EXPECT_NE(report->find("[UnZip] Распаковано: 4"), std::string::npos) << *report;
}

TEST_F(UnZipTest, FailuresAreWrappedAndAShortfallStopsTheInstall) {
  std::string archive = MakeArchive();
  // A destination that a placeholder empties.
  EmptyFolders shell;
  platform::ScopedDefault<platform::Shell> scope(shell);
  EXPECT_EQ(InstallEntries(File("unzip", archive, "UnZip", "{AdminTools}"), FTarget.File("a")),
            "Установка завершена с ошибкой: [UnZip] Ошибка распаковки файлов: Unable to create directory");
  // (A missing archive of the package is refused before the run starts.)
  std::string missing = InstallEntries(File("unzip", FTarget.File("none.zip"), "UnZip", FTarget.File("b")),
                                       FTarget.File("a2"));
  EXPECT_EQ(missing.rfind("Установка завершена с ошибкой: [UnZip] Ошибка распаковки файлов: ", 0), 0u) << missing;
  EXPECT_TRUE(fs::is_directory(FTarget.Native("b")));
  // A read-only file in the way fails its item only; the shortfall is named.
  fs::create_directories(FTarget.Native("c"));
  testing::WriteNative(FTarget.Native("c/top.bin"), "old");
  ASSERT_TRUE(platform::FileSystem::Default().SetAttributes(FTarget.File("c\\top.bin"), 0x01).ok());
  EXPECT_EQ(InstallEntries(File("unzip", archive, "UnZip", FTarget.File("c")), FTarget.File("a3")),
            "Установка завершена с ошибкой: [UnZip] Ошибка распаковки файлов: Не все файлы распакованы. "
            "Распаковано 3 из 4.");
  EXPECT_FALSE(fs::exists(FTarget.Native("a3/uninstall.xml")));
  (void)platform::FileSystem::Default().SetAttributes(FTarget.File("c\\top.bin"), 0x20);
}

}  // namespace
}  // namespace volok
