// The install folder's guard: which folders an install may take over, and
// that a refused folder is left exactly as it was. Every folder a refusal
// test names lies in a scratch folder of the test's own, the temporary
// folder included, so even a guard that fails cannot reach a real one.
#include "engine/install_folder.h"

#include "common/error.h"
#include "common/log_writer.h"
#include "common/text.h"
#include "scoped_env.h"
#include "worker_fixture.h"

namespace volok {
namespace {

namespace fs = std::filesystem;

std::string Refusal(const std::string& folder, const std::vector<std::string>& guarded = {}) {
  try {
    return "accepted " + ResolveInstallFolder(folder, guarded);
  } catch (const Error& e) {
    return e.what();
  }
}

std::string Refused(const std::string& folder) { return "Недопустимая папка установки: " + folder + "."; }

TEST(InstallFolderTest, DriveRootsAndEmptyFoldersAreRefused) {
  for (const char* folder : {"", "  ", "\\", "C:", "C:\\", "c:\\\\", "q:", "\\\\server\\share", "\\\\server\\share\\",
                             "\\\\server"})
    EXPECT_EQ(Refusal(folder), Refused(folder)) << folder;
}

TEST(InstallFolderTest, GuardedFoldersAndEverythingAboveThemAreRefused) {
  testing::TempFolder scratch;
  fs::create_directories(scratch.Native("sys/Данные/x"));
  const std::string guarded = scratch.File("sys\\Данные");
  const std::vector<std::string> list = {"", guarded + "\\"};
  for (const std::string folder : {guarded, guarded + "\\", guarded + "\\\\", UpperCase(guarded), scratch.File("sys"),
                                   scratch.Path(), guarded + "\\x\\..", guarded + "\\."})
    EXPECT_EQ(Refusal(folder, list), Refused(folder)) << folder;
  // Below a guarded folder, or beside one whose name starts the same, is fine.
  EXPECT_EQ(Refusal(guarded + "\\App\\", list), "accepted " + guarded + "\\App");
  EXPECT_EQ(Refusal(guarded + "2", list), "accepted " + guarded + "2");
  EXPECT_EQ(Refusal(scratch.File("sys\\Дан"), list), "accepted " + scratch.File("sys\\Дан"));
}

TEST(InstallFolderTest, RelativeFoldersBecomeAbsolute) {
  testing::TempFolder scratch;
  fs::create_directories(scratch.Native("work/sub"));
  testing::ScopedCurrentFolder current(scratch.Native("work"));
  const std::vector<std::string> engine = {scratch.File("work")};
  EXPECT_EQ(Refusal("app", {}), "accepted " + scratch.File("work\\app"));
  EXPECT_EQ(Refusal("sub\\..\\app\\", {}), "accepted " + scratch.File("work\\app"));
  EXPECT_EQ(Refusal("sub\\app", engine), "accepted " + scratch.File("work\\sub\\app"));
  for (const char* folder : {".", "..", "sub\\..", ".\\"}) EXPECT_EQ(Refusal(folder, engine), Refused(folder)) << folder;
}

class InstallFolderWorkerTest : public WorkerTest {
 protected:
  void SetUp() override {
    WorkerTest::SetUp();
    // The engine lies one level down, so "above the engine" is still the
    // test's own package folder.
    fs::create_directories(FPackage.Native("inner"));
    testing::WriteNative(FPackage.Native("inner/setup.exe"), "not really a program");
    SetExeFileName(FPackage.File("inner\\setup.exe"));
    SetLogFileName(FPackage.File("inner\\setup.log"));
    fs::create_directories(FScratchTemp.Native("keep"));
    testing::WriteNative(FScratchTemp.Native("keep/file.txt"), "temporary");
    testing::WriteNative(FPackage.Native("inner/setup.xml"), "");
  }

  std::string InstallInto(const std::string& install_path) {
    WriteDescription("<Install>" + File("copy", "readme.txt", "Copy", "{InstallPath}") + "</Install>", install_path);
    fs::rename(FPackage.Native("setup.xml"), FPackage.Native("inner/setup.xml"));
    testing::WriteNative(FPackage.Native("inner/readme.txt"), "read me");
    TInstallerThread worker;
    if (worker.Error()) return "construction: " + worker.Message();
    Attach(worker);
    worker.OnMessage = [this](TInstallerThread& sender, const std::string& text, int type, bool fatal) {
      TInstallerThread::LogSilent(sender, text, type, fatal);
      FRecorded.Messages.push_back(text);
    };
    Run(worker);
    return worker.Message();
  }

  testing::TempFolder FScratchTemp;
  testing::ScopedTempFolder FTempScope{FScratchTemp.NativePath()};
};

TEST_F(InstallFolderWorkerTest, RefusedFolderIsLeftUntouchedAndTheRefusalLoggedBesideTheEngine) {
  const std::string failed = "Установка завершена с ошибкой: ";
  struct Case {
    std::string install_path, shown;
  } cases[] = {
      {"{Temp}", FScratchTemp.Path()},
      {"{InstallerPath}", FPackage.File("inner")},
      {"{InstallerPath}\\..", FPackage.File("inner\\..")},
      {"{Temp}\\keep\\..", FScratchTemp.File("keep\\..")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.install_path);
    EXPECT_EQ(InstallInto(c.install_path), failed + Refused(c.shown));
    EXPECT_EQ(testing::ReadNative(FScratchTemp.Native("keep/file.txt")), "temporary");
    EXPECT_FALSE(fs::exists(FScratchTemp.Native("Backup")));
    EXPECT_FALSE(fs::exists(FPackage.Native("Backup")));
    EXPECT_FALSE(fs::exists(FPackage.Native("inner/Backup")));
    EXPECT_EQ(RegistryText("DisplayName"), "<missing>");
    EXPECT_EQ(LogFileName(), FPackage.File("inner\\setup.log"));
    EXPECT_NE(testing::ReadNative(FPackage.Native("inner/setup.log")).find("Fatal " + failed + Refused(c.shown)),
              std::string::npos);
  }
}

TEST_F(InstallFolderWorkerTest, RelativeFolderIsInstalledAndRegisteredAsAbsolute) {
  testing::ScopedCurrentFolder current(FTarget.NativePath());
  EXPECT_EQ(InstallInto("rel\\app"), "[Install] Установка завершена.");
  const std::string absolute = FTarget.File("rel\\app");
  EXPECT_EQ(testing::ReadNative(FTarget.Native("rel/app/readme.txt")), "read me");
  EXPECT_EQ(RegistryText("InstallLocation"), absolute);
  EXPECT_EQ(RegistryText("UninstallString"), "\"" + absolute + "\\uninstall.exe\"");
  TInstall written;
  written.ReadXml(DecryptText(ReadTextFile(absolute + "\\uninstall.xml")));
  EXPECT_EQ(written.InstallPath(), absolute);
}

TEST_F(WorkerTest, PayloadArchiveIsOpenedBesideTheEngineWhateverTheCurrentFolder) {
  testing::TempFolder source, decoy_source, elsewhere;
  testing::WriteNative(source.Native("real.txt"), "verified");
  testing::WriteNative(decoy_source.Native("decoy.txt"), "not verified");
  PackPayload(decoy_source.Path());
  fs::copy_file(FPackage.Native("data.zip"), elsewhere.Native("data.zip"));
  PackPayload(source.Path());
  std::uint32_t crc = 0;
  ASSERT_TRUE(FileCrc32(FPackage.File("data.zip"), crc));
  char crc_text[9];
  std::snprintf(crc_text, sizeof crc_text, "%08X", static_cast<unsigned>(crc));
  testing::ScopedCurrentFolder current(elsewhere.NativePath());
  std::string message = InstallEntries(
      File("unzip", "data.zip", "UnZip", "{InstallPath}", std::string("<CRC32>") + crc_text + "</CRC32>"),
      FTarget.File("app"));
  EXPECT_EQ(message, "[Install] Установка завершена.");
  EXPECT_EQ(testing::ReadNative(FTarget.Native("app/real.txt")), "verified");
  EXPECT_FALSE(fs::exists(FTarget.Native("app/decoy.txt")));
}

}  // namespace
}  // namespace volok
