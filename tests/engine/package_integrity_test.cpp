// What the manifest sealed into the engine protects: the description and
// every payload file, as the install then uses them.
#include <cstdlib>
#include <fstream>

#include "builder/single_file.h"
#include "common/crc32.h"
#include "common/package_layout.h"
#include "engine/package_files.h"
#include "worker_fixture.h"

namespace volok {
namespace {

namespace fs = std::filesystem;
class PackageIntegrityTest : public WorkerTest {
 protected:
  // A package of an archive and a CopyNoCRC file, sealed as it is now;
  // whatever changes afterwards no longer matches the engine's manifest.
  void MakeSealedPackage() {
    testing::WriteNative(FSource.Native("app.txt"), "the publisher's program");
    PackPayload(FSource.Path());
    testing::WriteNative(FPackage.Native("settings.ini"), "[main]\r\nmode=1\r\n");
    std::uint32_t crc = 0;
    ASSERT_TRUE(FileCrc32(FPackage.File("data.zip"), crc));
    FEntries = File("unzip", "data.zip", "UnZip", "{InstallPath}", "<Size>" +
                    std::to_string(fs::file_size(FPackage.Native("data.zip"))) + "</Size><CRC32>" + Hex(crc) +
                    "</CRC32>") +
               File("settings", "settings.ini", "Copy", "{InstallPath}", "<Size>0</Size><CRC32>0</CRC32>");
    WriteDescription("<Install>" + FEntries + "</Install>", FTarget.File("app"));
    FSeal = std::make_unique<ScopedManifestRecord>(testing::SealStandIn(ExeFileName()));
  }
  static std::string Hex(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
  }
  std::string Construct() {
    TInstallerThread worker;
    return worker.Error() ? worker.Message() : std::string();
  }

  // The same package as one file, alone in a folder of its own, run as
  // the engine: its record in place of the running image's.
  void MakeSingleFile(bool executable_settings = false) {
    MakeSealedPackage();
    if (executable_settings)
      fs::permissions(FPackage.Native("settings.ini"), fs::perms::owner_exec | fs::perms::group_exec,
                      fs::perm_options::add);
    testing::WriteNative(FAlone.Native("engine"), testing::StandInEngine());
    std::vector<TAttachedFile> files = {{kUninstallerEntry, FAlone.File("engine")},
                                        {"setup.xml", FPackage.File("setup.xml")},
                                        {"data.zip", FPackage.File("data.zip")},
                                        {"settings.ini", FPackage.File("settings.ini")}};
    const TManifestRecord record = WriteSingleFile(FAlone.File("engine"), files, FAlone.File("Demo-setup.exe"));
    fs::remove(FAlone.Native("engine"));
    SetExeFileName(FAlone.File("Demo-setup.exe"));
    FSeal.reset();  // the stand-ins nest: the folder's goes first
    FSeal = std::make_unique<ScopedManifestRecord>(record);
    FManifest = ReadPackage();
  }
  TPackageManifest ReadPackage() {
    TPackageFiles files;
    files.LoadManifest(ExeFileName(), OwnManifestRecord());
    return files.Manifest();
  }

  testing::TempFolder FSource, FAlone;
  TPackageManifest FManifest;
  std::string FEntries;
  std::unique_ptr<ScopedManifestRecord> FSeal;
};

TEST_F(PackageIntegrityTest, TheSealedPackageInstalls) {
  MakeSealedPackage();
  EXPECT_EQ(Construct(), "");
  TInstallerThread worker;
  Run(worker);
  EXPECT_EQ(worker.Message(), kDone);
  EXPECT_EQ(testing::ReadNative(FTarget.Native("app/app.txt")), "the publisher's program");
}

TEST_F(PackageIntegrityTest, AnyChangeToThePackageIsRefusedBeforeAnythingChanges) {
  MakeSealedPackage();
  const std::string zip = testing::ReadNative(FPackage.Native("data.zip"));
  const std::string description = testing::ReadNative(FPackage.Native("setup.xml"));
  struct Case {
    const char* what;
    std::function<void()> alter;
  } cases[] = {
      // A same-size archive whose CRC the attacker wrote into a description
      // re-encrypted with the constant key.
      {"archive and its CRC",
       [&] {
         std::string other = zip;
         other[other.size() / 2] ^= 0x5A;
         testing::WriteNative(FPackage.Native("data.zip"), other);
         std::uint32_t crc = 0;
         ASSERT_TRUE(FileCrc32(FPackage.File("data.zip"), crc));
         std::string entries = FEntries;
         entries.replace(entries.find("<CRC32>") + 7, 8, Hex(crc));
         WriteDescription("<Install>" + entries + "</Install>", FTarget.File("app"));
       }},
      {"an entry added to the description",
       [&] {
         WriteDescription("<Install>" + FEntries + File("evil", "/bin/true", "RunWait", "-") + "</Install>",
                          FTarget.File("app"));
       }},
      {"a line appended to a file without CRC",
       [&] { testing::WriteNative(FPackage.Native("settings.ini"), "[main]\r\nmode=1\r\nevil=1\r\n"); }},
      {"a payload file gone", [&] { fs::remove(FPackage.Native("settings.ini")); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.alter();
    EXPECT_EQ(Construct(), kChecksumMessage);
    EXPECT_FALSE(fs::exists(FTarget.Native("app")));
    testing::WriteNative(FPackage.Native("data.zip"), zip);
    testing::WriteNative(FPackage.Native("setup.xml"), description);
    testing::WriteNative(FPackage.Native("settings.ini"), "[main]\r\nmode=1\r\n");
    EXPECT_EQ(Construct(), "");
  }
}

TEST_F(PackageIntegrityTest, ASingleFileInstallsAloneAndWritesOutItsBareEngine) {
  MakeSingleFile();
  EXPECT_EQ(Construct(), "");
  TInstallerThread worker;
  Run(worker);
  EXPECT_EQ(worker.Message(), kDone);
  EXPECT_EQ(testing::ReadNative(FTarget.Native("app/app.txt")), "the publisher's program");
  EXPECT_EQ(testing::ReadNative(FTarget.Native("app/settings.ini")), "[main]\r\nmode=1\r\n");
  // The uninstaller is the bare engine as it was attached, not the
  // package, and the folder holds nothing the install left behind.
  EXPECT_EQ(testing::ReadNative(FTarget.Native("app/uninstall.exe")), testing::StandInEngine());
  std::vector<std::string> beside;
  for (const auto& item : fs::directory_iterator(FAlone.NativePath())) beside.push_back(item.path().filename().string());
  EXPECT_EQ(beside, (std::vector<std::string>{"Demo-setup.exe"}));
}

#ifndef _WIN32
// The single file holds bytes, not modes: what made a payload a program
// travels in the manifest.
TEST_F(PackageIntegrityTest, AProgramCopiedFromTheSingleFileIsStillAProgram) {
  MakeSingleFile(true);
  ASSERT_NE(FManifest.Find("settings.ini"), nullptr);
  EXPECT_TRUE(FManifest.Find("settings.ini")->Executable());
  EXPECT_FALSE(FManifest.Find("data.zip")->Executable());
  TInstallerThread worker;
  Run(worker);
  EXPECT_EQ(worker.Message(), kDone);
  auto executable = [this](const char* name) {
    return (fs::status(FTarget.Native(name)).permissions() & fs::perms::owner_exec) != fs::perms::none;
  };
  EXPECT_TRUE(executable("app/settings.ini"));
  EXPECT_FALSE(executable("app/app.txt"));
}
#endif

TEST_F(PackageIntegrityTest, AByteChangedAnywhereInTheSingleFileIsRefusedBeforeAnythingChanges) {
  MakeSingleFile();
  const std::string single = testing::ReadNative(FAlone.Native("Demo-setup.exe"));
  const TManifestRecord record = OwnManifestRecord();
  auto at = [&](const char* name, std::uint64_t into) {
    const TManifestEntry* entry = FManifest.Find(name);
    return entry ? entry->Offset + into : single.size();
  };
  const std::pair<const char*, std::uint64_t> places[] = {
      {"the engine's image", at(kImageHeadEntry, 20)},   {"the image after the record", at(kImageTailEntry, 2)},
      {"the bare engine", at(kUninstallerEntry, 3)},     {"setup.xml", at("setup.xml", 5)},
      {"the archive", at("data.zip", 40)},               {"a file without CRC", at("settings.ini", 1)},
      {"the manifest", record.Offset + record.Length - 1}, {"the record in the file", at(kImageTailEntry, 0) - 8},
  };
  for (const auto& [what, where] : places) {
    SCOPED_TRACE(what);
    std::string altered = single;
    ASSERT_LT(where, altered.size());
    altered[static_cast<std::size_t>(where)] ^= 0x20;
    testing::WriteNative(FAlone.Native("Demo-setup.exe"), altered);
    EXPECT_EQ(Construct(), kChecksumMessage);
    EXPECT_FALSE(fs::exists(FTarget.Native("app")));
  }
  testing::WriteNative(FAlone.Native("Demo-setup.exe"), single);
  EXPECT_EQ(Construct(), "");
}

TEST_F(PackageIntegrityTest, AnEngineWithoutItsManifestIsRefused) {
  MakeSealedPackage();
  {
    ScopedManifestRecord bare{TManifestRecord()};
    EXPECT_EQ(Construct(), kNoManifestMessage);
  }
  // The manifest in the file no longer has the hash the image carries.
  std::string engine = testing::ReadNative(FPackage.Native("setup.exe"));
  engine.back() ^= 1;
  testing::WriteNative(FPackage.Native("setup.exe"), engine);
  EXPECT_EQ(Construct(), kChecksumMessage);
}

TEST_F(PackageIntegrityTest, AnUninstallerInstallsNothing) {
  // uninstall.exe trusts the description its install left beside it, so a
  // description with install entries must not run through it.
  MakeSealedPackage();
  SetExeFileName(FPackage.File("uninstall.exe"));
  testing::WriteNative(FPackage.Native("uninstall.exe"), "not really a program");
  fs::copy_file(FPackage.Native("setup.xml"), FPackage.Native("uninstall.xml"));
  EXPECT_EQ(Construct(), "Нет описания процесса установки/удаления.");
}

TEST_F(PackageIntegrityTest, AnArchiveWithoutEncryptionIsRefused) {
  // Stored, unencrypted: one local header, its data, the directory.
  std::string name = "a.txt", data = "plain";
  std::uint32_t crc = 0xFFFFFFFFu;
  Crc32Update(data.data(), static_cast<std::uint32_t>(data.size()), crc);
  crc ^= 0xFFFFFFFFu;
  auto le = [](std::uint64_t v, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
  };
  std::string common = le(20, 2) + le(0, 2) + le(0, 2) + le(0, 2) + le(0x21, 2) + le(crc, 4) + le(data.size(), 4) +
                       le(data.size(), 4) + le(name.size(), 2) + le(0, 2);
  std::string local = le(0x04034b50, 4) + common + name + data;
  std::string central = le(0x02014b50, 4) + le(20, 2) + common + le(0, 2) + le(0, 2) + le(0, 2) + le(0, 4) +
                        le(0, 4) + name;
  std::string end = le(0x06054b50, 4) + le(0, 2) + le(0, 2) + le(1, 2) + le(1, 2) + le(central.size(), 4) +
                    le(local.size(), 4) + le(0, 2);
  testing::WriteNative(FPackage.Native("plain.zip"), local + central + end);
  const std::string message = InstallEntries(File("unzip", "plain.zip", "UnZip", "{InstallPath}"), FTarget.File("app"));
  EXPECT_EQ(message, "Установка завершена с ошибкой: [UnZip] Ошибка распаковки файлов: Архив не зашифрован: a.txt");
  EXPECT_FALSE(fs::exists(FTarget.Native("app/a.txt")));
}

#ifndef _WIN32
// The attacker's steps run as another account (uid 65534) in a package
// folder it owns, right after the check and before the install reads the
// files: the install must use the bytes it checked.
class SwapAfterCheckTest : public PackageIntegrityTest {
 protected:
  void SetUp() override {
    PackageIntegrityTest::SetUp();
    if (::geteuid() != 0 || std::system("command -v setpriv >/dev/null") != 0)
      GTEST_SKIP() << "needs root and setpriv";
    for (fs::path p = FPackage.NativePath(); p != p.root_path(); p = p.parent_path())
      fs::permissions(p, fs::perms::others_exec, fs::perm_options::add);
  }
  static void AsNobody(const std::string& command) {
    ASSERT_EQ(std::system(("setpriv --reuid 65534 --regid 65534 --clear-groups sh -c '" + command + "'").c_str()), 0)
        << command;
  }
  void GiveFolderToNobody(bool files_too) {
    std::string chown = "chown 65534:65534 '" + FPackage.NativePath().string() + "'";
    if (files_too) chown = "chown -R 65534:65534 '" + FPackage.NativePath().string() + "'";
    ASSERT_EQ(std::system(chown.c_str()), 0);
  }
  std::string Evil() {
    testing::TempFolder evil_source;
    testing::WriteNative(evil_source.Native("app.txt"), "the attacker's program!");
    ZipWriter writer;
    writer.SetBaseFolder(evil_source.Path());
    writer.SetPassword(std::string(ArchivePassword));
    writer.SetFileName(FEvil.File("evil.zip"));
    writer.AddFiles("*.*", 0x1FF);
    writer.Save();
    for (fs::path p = FEvil.NativePath(); p != p.root_path(); p = p.parent_path())
      fs::permissions(p, fs::perms::others_exec, fs::perm_options::add);
    fs::permissions(FEvil.Native("evil.zip"), fs::perms::others_read, fs::perm_options::add);
    return FEvil.Native("evil.zip").string();
  }
  void InstallAfter(const std::string& attack) {
    TInstallerThread worker;
    ASSERT_FALSE(worker.Error()) << worker.Message();
    AsNobody(attack);
    Attach(worker);
    Run(worker);
    EXPECT_EQ(worker.Message(), kDone);
    EXPECT_EQ(testing::ReadNative(FTarget.Native("app/app.txt")), "the publisher's program");
    EXPECT_EQ(testing::ReadNative(FTarget.Native("app/settings.ini")), "[main]\r\nmode=1\r\n");
  }
  testing::TempFolder FEvil;
};

TEST_F(SwapAfterCheckTest, ARenamedInFileIsNotTheOneInstalled) {
  MakeSealedPackage();
  GiveFolderToNobody(false);
  const std::string zip = FPackage.Native("data.zip").string(), ini = FPackage.Native("settings.ini").string();
  InstallAfter("cp " + Evil() + " " + zip + ".new && mv -f " + zip + ".new " + zip + " && printf evil > " + ini +
               ".new && mv -f " + ini + ".new " + ini);
}

TEST_F(SwapAfterCheckTest, AFileRewrittenInPlaceIsNotTheOneInstalled) {
  MakeSealedPackage();
  GiveFolderToNobody(true);
  const std::string zip = FPackage.Native("data.zip").string(), ini = FPackage.Native("settings.ini").string();
  InstallAfter("cat " + Evil() + " > " + zip + " && printf evil >> " + ini);
  // The private copies go with the run.
  for (const fs::directory_entry& item : fs::directory_iterator(fs::temp_directory_path()))
    EXPECT_NE(item.path().filename().string().rfind("volok-package-", 0), 0u) << item.path();
}
#endif

}  // namespace
}  // namespace volok
