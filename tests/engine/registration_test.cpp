// The registration as the program's identity: where an install without a
// folder goes, which copy's uninstall may remove it, which versions may
// replace which, what it records, and that a registration that cannot be
// written or removed fails the run.
#include "worker_fixture.h"

#include "common/file_utils.h"

namespace volok {
namespace {

namespace fs = std::filesystem;

class FailingUninstallKey final : public platform::RegistryWrapper {
 public:
  using RegistryWrapper::RegistryWrapper;
  platform::Status SetValues(RegistryRoot root, const std::string& key,
                             const std::vector<platform::NamedRegistryValue>& values) override {
    if (Refuses(key)) return platform::Status::Failure("Отказано в доступе");
    return FTarget.SetValues(root, key, values);
  }
  platform::Status SetString(RegistryRoot root, const std::string& key, const std::string& name,
                             const std::string& value) override {
    if (Refuses(key)) return platform::Status::Failure("Отказано в доступе");
    return FTarget.SetString(root, key, name, value);
  }
  platform::Status DeleteKeyTree(RegistryRoot root, const std::string& key) override {
    if (Refuses(key)) return platform::Status::Failure("Отказано в доступе");
    return FTarget.DeleteKeyTree(root, key);
  }
  bool Refuses(const std::string& key) const { return key.find(Part) != std::string::npos; }
  std::string Part = "CurrentVersion\\Uninstall";
};

class RegistrationTest : public WorkerTest {
 protected:
  void Register(const std::string& location, const std::string& version) {
    auto& registry = platform::Registry::Default();
    ASSERT_TRUE(registry.CreateKey(RegistryRoot::LocalMachine, RegistrationKey()).ok());
    ASSERT_TRUE(registry.SetString(RegistryRoot::LocalMachine, RegistrationKey(), "InstallLocation", location).ok());
    ASSERT_TRUE(registry.SetString(RegistryRoot::LocalMachine, RegistrationKey(), "DisplayVersion", version).ok());
    ASSERT_TRUE(registry.SetString(RegistryRoot::LocalMachine, RegistrationKey(), "Other", "kept").ok());
  }

  // An installed copy in `folder`: its description names the program, so
  // the folder may be taken over.
  void MakeInstalledCopy(const std::string& native_folder, const std::string& folder) {
    fs::create_directories(FTarget.Native(native_folder));
    std::string xml = "<Installer><Number>1.0</Number><Name>n</Name><ShortName>" + FShortName +
                      "</ShortName><InstallPath>" + folder + "</InstallPath><UnInstall/></Installer>";
    WriteTextFile(EncryptText(xml), folder + "\\uninstall.xml", 65001);
    testing::WriteNative(FTarget.Native(native_folder + "/old.txt"), "old");
  }

  // Installs a description of `version` with one payload file; answers the
  // worker's exit code and final message as "code|message".
  std::string InstallVersion(const std::string& version, const std::string& default_folder,
                             bool allow_downgrade = false, const std::string& given_folder = "") {
    testing::WriteNative(FPackage.Native("payload.txt"), std::string(3000, 'p'));
    std::string xml = "<Install>" + File("copy", "payload.txt", "Copy", "{InstallPath}") + "</Install>";
    WriteDescription(xml, default_folder);
    std::string path = FPackage.File("setup.xml");
    std::string text = DecryptText(ReadTextFile(path));
    text.replace(text.find("1.2.3.4"), 7, version);
    WriteTextFile(EncryptText(text), path, 65001);
    TInstallerThread worker;
    if (worker.Error()) return "construction: " + worker.Message();
    worker.SetAllowDowngrade(allow_downgrade);
    if (!given_folder.empty()) worker.InstallParameters().SetInstallPath(given_folder);
    Attach(worker);
    Run(worker);
    return std::to_string(worker.ExitCode()) + "|" + worker.Message();
  }
};

TEST_F(RegistrationTest, WithoutAFolderTheRegisteredCopyIsUpgradedInPlace) {
  const std::string registered = FTarget.File("registered"), fallback = FTarget.File("default");
  MakeInstalledCopy("registered", registered);
  Register(registered, "1.0.0.0");
  EXPECT_EQ(InstallVersion("2.0.0.0", fallback), std::string("0|") + kDone);
  EXPECT_TRUE(fs::exists(FTarget.Native("registered/payload.txt")));
  EXPECT_TRUE(fs::exists(FTarget.Native("registered/Backup/old.txt")));
  EXPECT_FALSE(fs::exists(FTarget.Native("default")));
  EXPECT_EQ(RegistryText("InstallLocation"), registered);
  EXPECT_EQ(RegistryText("DisplayVersion"), "2.0.0.0");
  EXPECT_EQ(RegistryText("Other"), "kept");
  EXPECT_TRUE(Logged("4|-|[Install] Обновление версии 1.0.0.0 до версии 2.0.0.0."));
}

TEST_F(RegistrationTest, AGivenFolderWinsOverTheRegisteredOne) {
  const std::string registered = FTarget.File("registered"), given = FTarget.File("given");
  MakeInstalledCopy("registered", registered);
  Register(registered, "1.0.0.0");
  EXPECT_EQ(InstallVersion("1.0.0.0", FTarget.File("default"), false, given), std::string("0|") + kDone);
  EXPECT_TRUE(fs::exists(FTarget.Native("given/payload.txt")));
  EXPECT_TRUE(fs::exists(FTarget.Native("registered/old.txt")));
  EXPECT_EQ(RegistryText("InstallLocation"), given);
}

TEST_F(RegistrationTest, ARegisteredFolderTheGuardRefusesIsRefusedClearly) {
  // The registration names the engine's own folder (as a forged or stale
  // entry might): no install moves that away.
  Register(ExcludeTrailingDelimiter(FPackage.Path()), "1.0.0.0");
  const std::string result = InstallVersion("2.0.0.0", FTarget.File("default"));
  EXPECT_EQ(result, "1603|Установка завершена с ошибкой: Недопустимая папка установки: " +
                        ExcludeTrailingDelimiter(FPackage.Path()) +
                        ". В ней зарегистрирована установленная версия программы; укажите папку установки явно.");
  EXPECT_FALSE(fs::exists(FTarget.Native("default")));
  EXPECT_TRUE(fs::exists(FPackage.Native("setup.xml")));
  EXPECT_EQ(RegistryText("DisplayVersion"), "1.0.0.0");
}

TEST_F(RegistrationTest, TheSameVersionReinstallsAndSaysSo) {
  const std::string app = FTarget.File("app");
  MakeInstalledCopy("app", app);
  Register(app, "1.5.0.0");
  EXPECT_EQ(InstallVersion("1.5.0.0", app), std::string("0|") + kDone);
  EXPECT_TRUE(Logged("4|-|[Install] Версия 1.5.0.0 уже установлена: установка выполняется повторно."));
  EXPECT_TRUE(fs::exists(FTarget.Native("app/payload.txt")));
}

TEST_F(RegistrationTest, AnOlderVersionIsRefusedBeforeAnythingChangesUnlessAllowed) {
  const std::string app = FTarget.File("app");
  MakeInstalledCopy("app", app);
  Register(app, "1.4.0.0");
  EXPECT_EQ(InstallVersion("1.2.0.0", app),
            "1638|Установка завершена с ошибкой: Установлена более новая версия программы (1.4.0.0), чем "
            "устанавливаемая (1.2.0.0). Чтобы установить более старую версию, запустите установку с параметром "
            "/allowdowngrade.");
  // Nothing moved, nothing written, the registration as it was.
  EXPECT_TRUE(fs::exists(FTarget.Native("app/old.txt")));
  EXPECT_FALSE(fs::exists(FTarget.Native("app/payload.txt")));
  EXPECT_FALSE(fs::exists(FTarget.Native("app/setup.log")));
  EXPECT_FALSE(fs::exists(FTarget.Native("app/Backup")));
  EXPECT_EQ(RegistryText("DisplayVersion"), "1.4.0.0");

  FRecorded = Recorded();
  EXPECT_EQ(InstallVersion("1.2.0.0", app, true), std::string("0|") + kDone);
  EXPECT_TRUE(Logged("4|-|[Install] Версия 1.4.0.0 заменяется более старой версией 1.2.0.0 (/allowdowngrade)."));
  EXPECT_EQ(RegistryText("DisplayVersion"), "1.2.0.0");
  EXPECT_TRUE(fs::exists(FTarget.Native("app/Backup/old.txt")));
}

TEST_F(RegistrationTest, TheEntryRecordsSizeAndNumericVersion) {
  const std::string app = FTarget.File("app");
  ASSERT_EQ(InstallVersion("3.17.5.9", app), std::string("0|") + kDone);
  EXPECT_EQ(RegistryText("VersionMajor"), "dword:3");
  EXPECT_EQ(RegistryText("VersionMinor"), "dword:17");
  // The payload (3000 bytes), uninstall.exe and uninstall.xml; setup.log
  // is still short when the entry is written.
  const std::uint64_t fixed = fs::file_size(FTarget.Native("app/payload.txt")) +
                              fs::file_size(FTarget.Native("app/uninstall.exe")) +
                              fs::file_size(FTarget.Native("app/uninstall.xml"));
  const std::string size = RegistryText("EstimatedSize");
  ASSERT_EQ(size.rfind("dword:", 0), 0u) << size;
  const std::uint64_t kib = std::stoull(size.substr(6));
  EXPECT_GE(kib, (fixed + 1023) / 1024);
  EXPECT_LE(kib, (fixed + 1023) / 1024 + 1);
}

TEST(InstalledSizeTest, CountsTheFilesButNotTheBackupsOrWhatLinksReach) {
  testing::TempFolder folder;
  fs::create_directories(folder.Native("sub/deeper"));
  fs::create_directories(folder.Native("Backup"));
  fs::create_directories(folder.Native("Backup.run-x"));
  fs::create_directories(folder.Native("sub/Backup"));  // only the top level's backup is the earlier version
  testing::WriteNative(folder.Native("a.bin"), std::string(1000, 'a'));
  testing::WriteNative(folder.Native("sub/deeper/b.bin"), std::string(1100, 'b'));
  testing::WriteNative(folder.Native("sub/Backup/c.bin"), std::string(100, 'c'));
  testing::WriteNative(folder.Native("Backup/old.bin"), std::string(50000, 'o'));
  testing::WriteNative(folder.Native("Backup.run-x/old.bin"), std::string(50000, 'o'));
  EXPECT_EQ(InstalledSizeKiB(folder.Path()), 3u);  // 2200 bytes, rounded up
#ifndef _WIN32
  fs::create_directory_symlink(folder.Native("Backup"), folder.Native("link"));
  EXPECT_EQ(InstalledSizeKiB(folder.Path()), 3u);
#endif
  EXPECT_EQ(InstalledSizeKiB(folder.File("missing")), 0u);
}

TEST_F(RegistrationTest, AnUninstallOfAnotherCopyLeavesTheRegistrationAlone) {
  const std::string live = FTarget.File("live"), orphan = FTarget.File("orphan");
  fs::create_directories(FTarget.Native("live"));
  fs::create_directories(FTarget.Native("orphan"));
  Register(live, "2.0.0.0");
  WriteDescription("<UnInstall>" + Entry("u1", "Nothing") + "</UnInstall>", orphan);
  {
    TInstallerThread worker;
    ASSERT_FALSE(worker.Error()) << worker.Message();
    Attach(worker);
    Run(worker);
    EXPECT_FALSE(worker.Error()) << worker.Message();
  }
  EXPECT_EQ(RegistryText("InstallLocation"), live);
  EXPECT_EQ(RegistryText("Other"), "kept");
  EXPECT_TRUE(Logged("4|-|[UnInstall] Программа зарегистрирована в другой папке (\"" + live +
                     "\"): регистрация оставлена без изменений."));

  // The registered copy itself, under another spelling of its folder, does
  // remove it.
  FRecorded = Recorded();
  WriteDescription("<UnInstall>" + Entry("u1", "Nothing") + "</UnInstall>", live + "\\.\\");
  TInstallerThread registered;
  ASSERT_FALSE(registered.Error()) << registered.Message();
  Run(registered);
  EXPECT_FALSE(registered.Error()) << registered.Message();
  EXPECT_EQ(RegistryText("InstallLocation"), "<missing>");
}

TEST_F(RegistrationTest, ARegistrationThatCannotBeWrittenFailsAndRollsBackTheInstall) {
  FailingUninstallKey registry(platform::Registry::BuiltIn());
  platform::ScopedDefault<platform::Registry> scope(registry);
  const std::string result = InstallVersion("1.0.0.0", FTarget.File("app"));
  EXPECT_EQ(result.substr(0, result.find(':')), "1603|Установка завершена с ошибкой");
  EXPECT_NE(result.find("[RegistryUnInstall] Не удалось зарегистрировать программу в списке установленных программ: "
                        "Отказано в доступе"),
            std::string::npos)
      << result;
  EXPECT_FALSE(fs::exists(FTarget.Native("app/payload.txt")));
  EXPECT_FALSE(fs::exists(FTarget.Native("app/uninstall.exe")));
}

TEST_F(RegistrationTest, ARegistrationThatCannotBeRemovedFailsAndRollsBackTheUninstall) {
  const std::string app = FTarget.File("app");
  fs::create_directories(FTarget.Native("app"));
  testing::WriteNative(FTarget.Native("app/data.txt"), "data");
  Register(app, "1.0.0.0");
  WriteDescription("<UnInstall>" + File("del", app + "\\data.txt", "DeleteFile", "-") + "</UnInstall>", app);
  FailingUninstallKey registry(platform::Registry::BuiltIn());
  platform::ScopedDefault<platform::Registry> scope(registry);
  TInstallerThread worker;
  ASSERT_FALSE(worker.Error()) << worker.Message();
  Attach(worker);
  Run(worker);
  EXPECT_TRUE(worker.Error());
  EXPECT_EQ(worker.Message(),
            "Удаление завершена с ошибкой: [RegistryUnInstallDelete] Не удалось удалить программу из списка "
            "установленных программ: Отказано в доступе");
  EXPECT_EQ(testing::ReadNative(FTarget.Native("app/data.txt")), "data");
  EXPECT_EQ(RegistryText("DisplayVersion"), "1.0.0.0");
}

TEST_F(RegistrationTest, RegistryEntriesThatFailAreWarningsAndTheRunGoesOn) {
  FailingUninstallKey registry(platform::Registry::BuiltIn());
  registry.Part = "VolokFault";
  platform::ScopedDefault<platform::Registry> scope(registry);
  const std::string entries = File("w", "HKCU\\Software\\VolokFault", "RegistryWrite", "v,STRING,1") +
                              File("d", "HKCU\\Software\\VolokFault", "RegistryDelete", "\"\"") +
                              File("gone", "HKCU\\Software\\VolokNothing", "RegistryDelete", "v");
  EXPECT_EQ(InstallEntries(entries, FTarget.File("app")), kDone);
  EXPECT_TRUE(Logged("2|-|[RegistryWrite] Не удалось записать в реестр: HKCU\\Software\\VolokFault: Отказано в доступе"));
  EXPECT_TRUE(Logged("2|-|[RegistryDelete] Не удалось удалить из реестра: HKCU\\Software\\VolokFault: Отказано в доступе"));
  // A value that is not there is no failure.
  EXPECT_FALSE(Logged("2|-|[RegistryDelete] Не удалось удалить из реестра: HKCU\\Software\\VolokNothing: "));
  for (const std::string& line : FRecorded.Messages) EXPECT_EQ(line.find("VolokNothing: "), std::string::npos) << line;
  EXPECT_EQ(RegistryText("DisplayName"), "Demo {Version}");
}

}  // namespace
}  // namespace volok
