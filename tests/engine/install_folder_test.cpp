// The install folder's guard: which folders an install may take over, and
// that a refused folder is left exactly as it was. Every folder a refusal
// test names lies in a scratch folder of the test's own, the temporary
// folder included, so even a guard that fails cannot reach a real one.
#include "engine/install_folder.h"

#include "common/error.h"
#include "common/log_writer.h"
#include "common/text.h"
#include "platform/runtime.h"
#include "scoped_env.h"
#include "worker_fixture.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace volok {
namespace {

namespace fs = std::filesystem;

std::string Refusal(const std::string& folder, const std::vector<std::string>& above = {},
                    const std::vector<std::string>& within = {}) {
  try {
    return "accepted " + ResolveInstallFolder(folder, TGuardedFolders{above, within});
  } catch (const Error& e) {
    return e.what();
  }
}

// A symbolic link to a folder. Wine 8 answers CreateSymbolicLinkW with
// success and makes nothing (its links are host links, which the Wine
// end-to-end run makes with ln), so there the caller skips.
bool MakeFolderLink(const fs::path& target, const fs::path& link) {
#ifdef _WIN32
  CreateSymbolicLinkW(link.wstring().c_str(), target.wstring().c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
  return GetFileAttributesW(link.wstring().c_str()) != INVALID_FILE_ATTRIBUTES;
#else
  fs::create_directory_symlink(target, link);
  return true;
#endif
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
  for (const std::string& folder : {guarded, guarded + "\\", guarded + "\\\\", UpperCase(guarded), scratch.File("sys"),
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

TEST(InstallFolderTest, OtherSpellingsOfAGuardedFolderAreRefused) {
  testing::TempFolder scratch;
  fs::create_directories(scratch.Native("sys/Данные"));
  const std::string guarded = scratch.File("sys\\Данные");
  std::string slashed = "//?/" + guarded;
  for (char& c : slashed)
    if (c == '\\') c = '/';
  for (const std::string& folder : {"\\\\?\\" + guarded, slashed, "\\\\?\\" + scratch.File("sys"), "\\??\\" + guarded})
    EXPECT_EQ(Refusal(folder, {guarded}), Refused(folder)) << folder;
  // Device and object-namespace paths name no folder a guard could compare.
  for (const std::string& folder : {"\\\\.\\" + guarded + "\\App", std::string("\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\App"),
                                   std::string("\\\\?\\Volume{0a1b2c3d-0000-0000-0000-000000000000}\\App"),
                                   std::string("\\\\?\\UNC\\server\\share"), std::string("//server/share/"),
                                   guarded + "::$INDEX_ALLOCATION", guarded + ":stream\\App", "\\\\?\\" + guarded + "::$DATA"})
    EXPECT_EQ(Refusal(folder), Refused(folder)) << folder;
  EXPECT_EQ(Refusal("\\\\?\\" + guarded + "\\App", {guarded}), "accepted " + guarded + "\\App");
}

// A share of this machine reaches the same folders as its drive: judged so.
TEST(InstallFolderTest, SharesOfThisMachineAreJudgedAsTheLocalPathTheyName) {
  testing::TempFolder scratch;
  fs::create_directories(scratch.Native("sys/Данные"));
  const std::string guarded = scratch.File("sys\\Данные");
  const std::string drive = guarded.substr(0, 1), rest = guarded.substr(3);
  // The names and every spelling of a loopback address that the resolver
  // takes: short and numeric IPv4 forms, IPv6 and its UNC literal names.
  std::vector<std::string> hosts = {"localhost", "LOCALHOST.", "127.0.0.1", "127.1.2.3", "[::1]", "127.1",
                                    "2130706433", "0x7f000001", "0X7F.1", "0177.0.0.1", "0.0.0.0", "0",
                                    "--1.ipv6-literal.net", "0-0-0-0-0-0-0-1.ipv6-literal.net",
                                    "--ffff-7f00-1.ipv6-literal.net", "--1s1.ipv6-literal.net"};
  for (const std::string& name : platform::ThisMachineNames()) hosts.push_back(name);
  for (const std::string& host : hosts) {
    for (const std::string& share : {drive + "$", LowerCase(drive) + "$"}) {
      for (const std::string& folder : {"\\\\" + host + "\\" + share + "\\" + rest,
                                       "\\\\?\\UNC\\" + host + "\\" + share + "\\" + rest, "//" + host + "/" + share + "/"})
        EXPECT_EQ(Refusal(folder, {guarded}), Refused(folder)) << folder;
      EXPECT_EQ(Refusal("\\\\" + host + "\\" + share + "\\" + rest + "\\App", {guarded}), "accepted " + guarded + "\\App");
    }
    // Another share of this machine names a folder no text tells.
    EXPECT_EQ(Refusal("\\\\" + host + "\\apps\\App"), Refused("\\\\" + host + "\\apps\\App")) << host;
  }
  // Addresses of other machines, and names that only look numeric, are
  // other machines' shares.
  for (std::string host : {"128.0.0.1", "1.2.3.4.5", "0x1g", "--2.ipv6-literal.net", "deadbeef", "127.0.0.1x"})
    EXPECT_EQ(Refusal("\\\\" + host + "\\apps\\App"), "accepted \\\\" + host + "\\apps\\App") << host;
}

// An address of this machine that no list holds (its own network address,
// an alias) cannot be told from another machine: a drive's administrative
// share is judged by that drive's guarded folders on any server.
TEST(InstallFolderTest, AdministrativeSharesOfAnyServerAreJudgedByTheirDrive) {
  testing::TempFolder scratch;
  fs::create_directories(scratch.Native("sys/Данные"));
  const std::string guarded = scratch.File("sys\\Данные");
  const std::string drive = guarded.substr(0, 1), rest = guarded.substr(3);
  for (std::string server : {"fileserver", "10.1.2.3", "host.example"}) {
    const std::string share = "\\\\" + server + "\\" + drive + "$\\";
    for (const std::string& folder : {share + rest, share + rest + "\\..\\Данные", share})
      EXPECT_EQ(Refusal(folder, {guarded}), Refused(folder)) << folder;
    EXPECT_EQ(Refusal(share + rest, {}, {scratch.File("sys")}), Refused(share + rest));
    EXPECT_EQ(Refusal(share + rest + "\\App", {guarded}), "accepted " + share + rest + "\\App");
    EXPECT_EQ(Refusal("\\\\" + server + "\\" + drive + "$x\\" + rest, {guarded}),
              "accepted \\\\" + server + "\\" + drive + "$x\\" + rest);
  }
}

TEST(InstallFolderTest, SystemOwnedFoldersAreRefusedWithEverythingBelowThem) {
  testing::TempFolder scratch;
  fs::create_directories(scratch.Native("windows/system32/drivers"));
  const std::string system = scratch.File("windows");
  for (const std::string& folder : {system, system + "\\system32\\drivers", system + "\\Temp\\App"})
    EXPECT_EQ(Refusal(folder, {}, {system}), Refused(folder)) << folder;
  EXPECT_EQ(Refusal(scratch.File("windows2"), {}, {system}), "accepted " + scratch.File("windows2"));
}

TEST(InstallFolderTest, LinksAreFollowedToTheFolderTheyName) {
  testing::TempFolder scratch;
  fs::create_directories(scratch.Native("sys/Данные"));
  if (!MakeFolderLink(scratch.Native("sys/Данные"), scratch.Native("link")) ||
      !MakeFolderLink(scratch.Native("sys"), scratch.Native("parent link")))
    GTEST_SKIP() << "this system makes no symbolic links";
  const std::string guarded = scratch.File("sys\\Данные");
  for (const std::string& folder : {scratch.File("link"), scratch.File("parent link\\Данные"), scratch.File("parent link")})
    EXPECT_EQ(Refusal(folder, {guarded}), Refused(folder)) << folder;
  // Accepted below the link, and the run uses the folder itself.
  EXPECT_EQ(Refusal(scratch.File("link\\App"), {guarded}), "accepted " + guarded + "\\App");
}

#ifdef _WIN32
TEST(InstallFolderTest, ShortNamesAreTheFoldersTheyName) {
  testing::TempFolder scratch;
  fs::create_directories(scratch.Native("Program Files Long/App"));
  const std::string guarded = scratch.File("Program Files Long");
  wchar_t buffer[MAX_PATH];
  DWORD length = GetShortPathNameW(fs::path(scratch.Native("Program Files Long")).wstring().c_str(), buffer, MAX_PATH);
  ASSERT_GT(length, 0u);
  std::string short_name = scratch.File(fs::path(std::wstring(buffer, length)).filename().string());
  if (LowerCase(short_name) == LowerCase(guarded)) GTEST_SKIP() << "no short names on this volume";
  EXPECT_EQ(Refusal(short_name, {guarded}), Refused(short_name));
  EXPECT_EQ(Refusal(short_name + "\\App", {guarded}), "accepted " + guarded + "\\App");
  EXPECT_EQ(Refusal(short_name + "\\New", {guarded}), "accepted " + guarded + "\\New");
}
#endif

TEST(DeleteGuardTest, RootsGuardedFoldersAndClimbsOutOfTheInstallFolderAreRefused) {
  testing::TempFolder scratch;
  fs::create_directories(scratch.Native("Program Files/Demo/sub"));
  fs::create_directories(scratch.Native("Apps/Other"));
  const std::string program_files = scratch.File("Program Files"), install = program_files + "\\Demo";
  const TGuardedFolders guarded{{program_files}, {scratch.File("windows")}};
  std::string identity;
  for (const std::string& target :
       {std::string("C:"), std::string("c:\\"), std::string("\\"), std::string("\\\\server\\share"), program_files,
        install + "\\..", install + "\\..\\", install + "\\sub\\..\\..", scratch.Path(), scratch.File("windows\\x"),
        install + "\\..\\Other app", "\\\\.\\" + install})
    EXPECT_FALSE(MayDelete(target, guarded, install, identity)) << target;
  // Inside the install folder, and any allowed folder named explicitly.
  EXPECT_TRUE(MayDelete(install + "\\sub\\..\\sub", guarded, install, identity));
  EXPECT_EQ(identity, install + "\\sub");
  EXPECT_TRUE(MayDelete(scratch.File("Apps\\Other"), guarded, install, identity));
  EXPECT_TRUE(MayDelete("\\\\?\\" + install + "\\sub", guarded, install, identity));
  EXPECT_EQ(identity, install + "\\sub");
}

TEST(DeleteGuardTest, ALinkIsDeletedAsTheLinkNotItsTarget) {
  testing::TempFolder scratch;
  fs::create_directories(scratch.Native("app"));
  fs::create_directories(scratch.Native("elsewhere"));
  if (!MakeFolderLink(scratch.Native("elsewhere"), scratch.Native("app/link")))
    GTEST_SKIP() << "this system makes no symbolic links";
  std::string identity;
  ASSERT_TRUE(MayDelete(scratch.File("app\\link"), TGuardedFolders{}, scratch.File("app"), identity));
  EXPECT_EQ(identity, scratch.File("app\\link"));
  // A guarded folder reached through a link is still the guarded folder.
  EXPECT_FALSE(MayDelete(scratch.File("app\\link"), TGuardedFolders{{scratch.File("app\\link")}, {}},
                         scratch.File("app"), identity));
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

#ifdef _WIN32
TEST_F(InstallFolderWorkerTest, DriveRootIsRefusedWithoutTouchingIt) {
  // Drive Q: is a scratch folder of the test's own.
  testing::TempFolder drive;
  testing::WriteNative(drive.Native("root file.txt"), "root");
  ASSERT_TRUE(DefineDosDeviceW(0, L"Q:", testing::TempFolder::NativeOf(drive.Path()).wstring().c_str()));
  for (const char* root : {"Q:\\", "Q:", "q:\\.", "Q:\\x\\.."})
    EXPECT_EQ(InstallInto(root), "Установка завершена с ошибкой: " + Refused(root)) << root;
  DefineDosDeviceW(DDD_REMOVE_DEFINITION, L"Q:", nullptr);
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(drive.NativePath())) left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"root file.txt"});
}
#endif

TEST_F(InstallFolderWorkerTest, OnlyAnEarlierInstallOfThisProgramIsMovedAside) {
  auto write_uninstaller = [&](const std::string& folder, const std::string& short_name) {
    std::string xml = "<?xml version=\"1.0\"?><Installer><Number>1.0.0.0</Number><Company>c</Company><Name>n</Name>"
                      "<ShortName>" + short_name + "</ShortName><InstallPath>" + folder + "</InstallPath>"
                      "<UnInstall><File><Name>u</Name><FileName>x</FileName><Action>Nothing</Action>"
                      "<Destination>y</Destination></File></UnInstall></Installer>";
    WriteTextFile(EncryptText(xml), folder + "\\uninstall.xml", 65001);
  };
  // The user's documents, and another program's folder: refused, untouched.
  fs::create_directories(FTarget.Native("docs"));
  testing::WriteNative(FTarget.Native("docs/letter.txt"), "dear");
  fs::create_directories(FTarget.Native("other"));
  write_uninstaller(FTarget.File("other"), "SomeoneElse");
  for (const char* name : {"docs", "other"}) {
    SCOPED_TRACE(name);
    const std::string folder = FTarget.File(name);
    EXPECT_EQ(InstallInto(folder), "Установка завершена с ошибкой: " + Refused(folder));
    EXPECT_FALSE(fs::exists(FTarget.Native(std::string(name) + "/Backup")));
    EXPECT_FALSE(fs::exists(FTarget.Native(std::string(name) + "/setup.log")));
  }
  EXPECT_EQ(testing::ReadNative(FTarget.Native("docs/letter.txt")), "dear");
  // An earlier install of this program (its uninstall description, however
  // its short name is spelled) and a folder left with only a failed run's
  // log are taken over.
  fs::create_directories(FTarget.Native("ours"));
  write_uninstaller(FTarget.File("ours"), UpperCase(FShortName));
  EXPECT_EQ(InstallInto(FTarget.File("ours")), "[Install] Установка завершена.");
  EXPECT_TRUE(fs::exists(FTarget.Native("ours/Backup/uninstall.xml")));
  fs::create_directories(FTarget.Native("failed"));
  testing::WriteNative(FTarget.Native("failed/setup.log"), "an earlier failure");
  EXPECT_EQ(InstallInto(FTarget.File("failed")), "[Install] Установка завершена.");
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
