// Power-loss sweeps, as databases test crash safety: a run of the engine
// loses power at its 1st, 2nd, … change to the disk or the registry; a fresh
// engine then recovers from what is on disk, and the install target and the
// registry must equal, byte for byte, either the state before that run or
// the state after it (logs aside). Every change point until the run
// completes, for a fresh install, an upgrade, an upgrade that fails and
// an uninstall.
#include <filesystem>
#include <functional>

#include "engine/run_journal.h"
#include "platform/runtime.h"
#include "power_loss.h"
#include "worker_fixture.h"

namespace volok {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr int kStride = 3;  // every third point: the Windows layer under Wine is slower
#else
constexpr int kStride = 1;
#endif

class CrashRecoveryTest : public WorkerTest {
 protected:
  void SetUp() override {
    WorkerTest::SetUp();
    FApp = FTarget.File("app");
    FKey = "Software\\VolokSweep" + FShortName;
    fs::create_directories(FOne.Native("sub"));
    testing::WriteNative(FOne.Native("a.txt"), "version one");
    testing::WriteNative(FOne.Native("sub/b.txt"), std::string(3000, 'b'));
    testing::WriteNative(FOne.Native("keep.txt"), "kept by both");
    fs::create_directories(FTwo.Native("sub"));
    fs::create_directories(FTwo.Native("new"));
    testing::WriteNative(FTwo.Native("a.txt"), "version two");
    testing::WriteNative(FTwo.Native("sub/c.txt"), std::string(4000, 'c'));
    testing::WriteNative(FTwo.Native("new/d.txt"), "d");
    testing::WriteNative(FTwo.Native("keep.txt"), "kept by both");
    testing::WriteNative(FPackage.Native("conf1.txt"), "settings one");
    testing::WriteNative(FPackage.Native("conf2.txt"), "settings two");
  }

  // Files outside the install folder: one replaced by the upgrade, a new
  // one, and a shortcut in a folder of its own.
  std::string Outside(int version) {
    std::string conf = FPackage.File("conf" + std::to_string(version) + ".txt");
    std::string entries = File("conf", conf, "Copy2", FTarget.File("outside\\conf.txt"));
    if (version == 2)
      entries += File("extra", conf, "Copy2", FTarget.File("outside\\extra.txt")) +
                 File("link", "{InstallPath}\\a.txt", "Link", FTarget.File("outside\\Меню\\App.lnk"));
    return entries;
  }

  std::string Registry(const std::string& name, const std::string& data, const std::string& action) {
    return File(name, "HKCU\\" + FKey, action, data);
  }
  std::string UnInstallList() {
    return "<UnInstall>" + File("del", "{InstallPath}", "DeleteFolder", "-") +
           File("conf", FTarget.File("outside\\conf.txt"), "DeleteFile", "-") +
           Registry("key", "\"\"", "RegistryDelete") + "</UnInstall>";
  }
  void PrepareVersionOne() {
    std::string archive = PackPayload(FOne.Path());
    WriteDescription("<Install>" + File("unzip", archive, "UnZip", "{InstallPath}") +
                         Registry("setting", "Setting,STRING,one", "RegistryWrite") +
                         Registry("old", "Old,STRING,x", "RegistryWrite") + Outside(1) + "</Install>" +
                         UnInstallList(),
                     FApp);
  }
  void PrepareVersionTwo(bool failing) {
    std::string archive = PackPayload(FTwo.Path());
    std::string broken = failing ? File("broken", "missing.txt", "Copy2", "{InstallPath}\\x.txt") : "";
    WriteDescription("<Install>" + File("unzip", archive, "UnZip", "{InstallPath}") +
                         Registry("setting", "Setting,STRING,two", "RegistryWrite") +
                         Registry("extra", "Extra,DWORD,7", "RegistryWrite") +
                         Registry("old", "Old", "RegistryDelete") + Outside(2) + broken + "</Install>" +
                         UnInstallList(),
                     FApp);
  }
  void PrepareUnInstall() { WriteDescription(UnInstallList(), FApp); }

  // Wipes the target, the registry keys and the journals, then installs
  // version one when asked, with a file of the user's beside it.
  void Reset(bool installed) {
    for (const auto& entry : fs::directory_iterator(FTarget.Native("."))) fs::remove_all(entry.path());
    for (const auto& entry : fs::directory_iterator(FJournals.Native("."))) fs::remove_all(entry.path());
    (void)platform::Registry::Default().DeleteKeyTree(RegistryRoot::LocalMachine, RegistrationKey());
    (void)platform::Registry::Default().DeleteKeyTree(RegistryRoot::CurrentUser, FKey);
    SetExeFileName(FPackage.File("setup.exe"));
    fs::create_directories(FTarget.Native("outside"));
    if (!installed) return;
    PrepareVersionOne();
    ASSERT_EQ(RunWith(0), "[Install] Установка завершена.");
    testing::WriteNative(FTarget.Native("app/user.txt"), "мои заметки");
  }

  // Runs the package's description with power lost at change `fail_at`
  // (0: never); answers the final message.
  std::string RunWith(int fail_at) {
    FPower.Restore(fail_at);
    platform::ScopedDefault<platform::FileSystem> files(FFiles);
    platform::ScopedDefault<platform::Registry> registry(FRegistry);
    TInstallerThread worker;
    if (worker.Error()) return "construction: " + worker.Message();
    Attach(worker);
    Run(worker);
    return worker.Message();
  }

  void Recover() {
    TInstallerThread fresh;
    ASSERT_FALSE(fresh.Error()) << fresh.Message();
    Attach(fresh);
    fresh.Recover();
  }

  // The target tree with every file's bytes (logs left out) and the two
  // registry keys, as one text.
  std::string State() {
    std::string text;
    for (auto it = fs::recursive_directory_iterator(FTarget.Native(".")); it != fs::recursive_directory_iterator();
         ++it) {
      std::string relative = fs::relative(it->path(), FTarget.Native(".")).generic_string();
      if (it->path().filename() == "setup.log") continue;
      // A Windows shortcut carries the times of the folders it names.
      std::string content = it->path().extension() == ".lnk" ? "<shortcut>" : testing::ReadNative(it->path());
      text += it->is_directory() ? "dir " + relative + "\n" : "file " + relative + " " + content + "\n";
    }
    TJournalState keys;
    keys.Folder = "-";
    keys.Keys = {SnapshotKey(RegistryRoot::LocalMachine, RegistrationKey()),
                 SnapshotKey(RegistryRoot::CurrentUser, FKey)};
    return text + FormatJournal(keys);
  }

  bool JournalLeft() {
    for (const auto& entry : fs::directory_iterator(FJournals.Native(".")))
      if (entry.path().extension() != ".lock") return true;
    return false;
  }

  // Sweeps every change point of the run `prepare` sets up from the state
  // `installed` gives; the recovered state must be `before` or `after`.
  void Sweep(bool installed, const std::function<void()>& prepare, bool completes) {
    Reset(installed);
    const std::string before = State();
    prepare();
    std::string done = RunWith(0);
    ASSERT_EQ(done.find("с ошибкой") == std::string::npos, completes) << done;
    const std::string after = State();
    ASSERT_FALSE(JournalLeft());
    if (completes) {
      ASSERT_NE(before, after);
    }
    int fail_at = 1;
    for (; fail_at < 2000; fail_at += kStride) {
      SCOPED_TRACE("power lost at change " + std::to_string(fail_at));
      Reset(installed);
      prepare();
      std::string message = RunWith(fail_at);
      if (FPower.Changes < fail_at) {  // the run made fewer changes: the sweep is through
        EXPECT_EQ(message, done);
        break;
      }
      Recover();
      std::string state = State();
      if (state != before) {
        EXPECT_EQ(state, after) << "neither the state before nor after; message: " << message;
      }
      EXPECT_FALSE(JournalLeft());
    }
    EXPECT_LT(fail_at, 2000);
    EXPECT_GT(fail_at, 8);  // the run makes a good number of changes
  }

  testing::TempFolder FOne, FTwo;
  testing::PowerSupply FPower;
  testing::PowerLossFileSystem FFiles{platform::FileSystem::BuiltIn(), FPower};
  testing::PowerLossRegistry FRegistry{platform::Registry::BuiltIn(), FPower};
  std::string FApp, FKey;
};

TEST_F(CrashRecoveryTest, AFreshInstallKilledAnywhereIsUndoneOrComplete) {
  Sweep(false, [this] { PrepareVersionOne(); }, true);
}

TEST_F(CrashRecoveryTest, AnUpgradeKilledAnywhereLeavesTheOldOrTheNewVersion) {
  Sweep(true, [this] { PrepareVersionTwo(false); }, true);
}

TEST_F(CrashRecoveryTest, AFailingUpgradeKilledAnywhereLeavesTheOldVersion) {
  Sweep(true, [this] { PrepareVersionTwo(true); }, false);
}

TEST_F(CrashRecoveryTest, AnUninstallKilledAnywhereLeavesTheProgramWholeOrGone) {
  Sweep(true, [this] { PrepareUnInstall(); }, true);
}

TEST_F(CrashRecoveryTest, ASecondRunForTheSameProgramIsRefused) {
  PrepareVersionOne();
  TRunJournal held(platform::JournalFolder(), FShortName);
  TInstallerThread worker;
  Attach(worker);
  Run(worker);
  EXPECT_TRUE(worker.AnotherRun());
  EXPECT_EQ(worker.Message(), std::string("Установка завершена с ошибкой: ") + kAnotherRunMessage);
  EXPECT_FALSE(fs::exists(FTarget.Native("app")));
}

TEST(RunJournalTest, TheTextFormKeepsEveryRecordAndRefusesATornOne) {
  TJournalState state;
  state.RunId = "abc";
  state.Folder = "C:\\Программы\\a\tb";
  state.FolderExisted = true;
  state.Staging = "Backup.run-abc";
  state.Earlier = {"x.txt", "line\nbreak", "tab\tname"};
  TKeySnapshot key;
  key.Key = "Software\\X";
  key.Existed = true;
  key.SubKeys = {"Sub"};
  platform::RegistryValue text, number, raw;
  text.Text = "текст\r\n";
  number.Type = platform::RegistryType::Dword;
  number.Number = 4294967295u;
  raw.Type = static_cast<platform::RegistryType>(3);
  raw.Text = std::string("\0\x01\xff", 3);
  key.Values = {{"", {"A", text}}, {"Sub", {"B", number}}, {"Sub", {"C", raw}}};
  state.Keys = {key};
  state.RegistryValues = {{platform::RegistryRoot::CurrentUser, "K", "V", false, {}}};
  state.Asides = {{"C:\\a", "C:\\a.volok-abc.0"}};
  state.Split = {{"bin", {"a.dll", "sub"}}, {"bin\\sub", {}}, {"data", {"held.db"}}};
  state.Kept = {"bin\\a.dll", "data\\held.db"};
  state.Deferred = {"bin\\a.dll"};
  state.Committed = true;
  std::string text_form = FormatJournal(state);
  TJournalState parsed;
  std::string why;
  ASSERT_EQ(ParseJournal(text_form, parsed, why), TJournalText::Valid) << why;
  EXPECT_EQ(FormatJournal(parsed), text_form);
  EXPECT_EQ(parsed.Earlier[1], "line\nbreak");
  EXPECT_EQ(parsed.Keys[0].Values[2].Value.Value.Text, raw.Text);
  EXPECT_EQ(parsed.Keys[0].Values[1].Value.Value.Number, 4294967295u);
  ASSERT_EQ(parsed.Split.size(), 3u);
  EXPECT_EQ(parsed.Split[0].Names, (std::vector<std::string>{"a.dll", "sub"}));
  EXPECT_TRUE(parsed.Split[1].Names.empty());
  EXPECT_EQ(parsed.Kept, state.Kept);
  EXPECT_EQ(parsed.Deferred, state.Deferred);
  // A journal cut anywhere before its end record is a write cut short.
  for (std::size_t cut = 0; cut + 1 < text_form.size(); cut += 7)
    EXPECT_EQ(ParseJournal(text_form.substr(0, cut), parsed, why), TJournalText::Torn) << cut;
  // Any byte altered (but the last line's end, which makes it a cut) is a
  // journal nobody may replay.
  for (std::size_t at = 0; at + 1 < text_form.size(); ++at) {
    std::string altered = text_form;
    altered[at] = static_cast<char>(altered[at] ^ 0x20);
    EXPECT_EQ(ParseJournal(altered, parsed, why), TJournalText::Refused) << at;
  }
}

TEST(RunJournalTest, AJournalWhoseChecksumsMatchButThatNoRunWritesIsRefused) {
  TJournalState good;
  good.RunId = "abc123";
  good.Folder = "C:\\App";
  good.Staging = "Backup.run-abc123";
  good.Asides = {{"C:\\conf.ini", "C:\\conf.ini.volok-abc123.0"}, {"C:\\new.txt", ""}};
  TJournalState parsed;
  std::string why;
  ASSERT_EQ(ParseJournal(FormatJournal(good), parsed, why), TJournalText::Valid) << why;
  auto refused = [&](const std::function<void(TJournalState&)>& forge) {
    TJournalState forged = good;
    forge(forged);
    return ParseJournal(FormatJournal(forged), parsed, why) == TJournalText::Refused;
  };
  EXPECT_TRUE(refused([](TJournalState& s) { s.Staging = "..\\..\\Windows"; }));
  EXPECT_TRUE(refused([](TJournalState& s) { s.RunId = "..\\x"; }));
  EXPECT_TRUE(refused([](TJournalState& s) { s.Earlier = {"..\\..\\secret"}; }));
  EXPECT_TRUE(refused([](TJournalState& s) { s.Asides[0].Aside = "C:\\Windows\\system32\\x.dll"; }));
  EXPECT_TRUE(refused([](TJournalState& s) { s.Folder.clear(); }));
  EXPECT_TRUE(refused([](TJournalState& s) { s.Keys = {TKeySnapshot{static_cast<RegistryRoot>(7), "K", false, {}, {}}}; }));
}

}  // namespace
}  // namespace volok
