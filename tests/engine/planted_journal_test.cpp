// Journals that no run of the program wrote, met at the start of an
// ordinary install: whatever they name outside what the description may
// touch is never replayed, and the install still happens.
#include <filesystem>

#include "engine/run_journal.h"
#include "platform/runtime.h"
#include "worker_fixture.h"

namespace volok {
namespace {

namespace fs = std::filesystem;

constexpr char kRunId[] = "abcdef123456";

class PlantedJournalTest : public WorkerTest {
 protected:
  void SetUp() override {
    WorkerTest::SetUp();
    FKey = "Software\\VolokPlanted" + FShortName;
    testing::WriteNative(FSystem.Native("victim.dll"), "system file");
    testing::WriteNative(FSystem.Native("victim.ini"), "original");
    testing::WriteNative(FSystem.Native(std::string("victim.ini.volok-") + kRunId + ".0"), "attacker's content");
    fs::create_directories(FSystem.Native("data"));
    testing::WriteNative(FSystem.Native("data/keep.txt"), "unrelated");
    testing::WriteNative(FPackage.Native("conf.txt"), "settings");
  }
  void TearDown() override {
    (void)platform::Registry::Default().DeleteKeyTree(RegistryRoot::CurrentUser, FKey);
    (void)platform::Registry::Default().DeleteKeyTree(RegistryRoot::CurrentUser, "Software\\VolokOther" + FShortName);
    WorkerTest::TearDown();
  }

  // Writes `state` as the program's interrupted journal, checksums and all.
  void Plant(const TJournalState& state) {
    TRunJournal journal(platform::JournalFolder(), FShortName);
    journal.State() = state;
    journal.Save();
  }

  TJournalState Forged(const std::string& folder) {
    TJournalState state;
    state.RunId = kRunId;
    state.Folder = folder;
    state.Asides = {{FSystem.File("victim.dll"), ""},
                    {FSystem.File("victim.ini"), FSystem.File(std::string("victim.ini.volok-") + kRunId + ".0")},
                    {FSystem.File("data"), ""}};
    TKeySnapshot service;
    service.Key = "SYSTEM\\CurrentControlSet\\Services\\EvilSvc" + FShortName;
    service.Existed = true;
    platform::RegistryValue image;
    image.Text = "C:\\evil.exe";
    service.Values = {{"", {"ImagePath", image}}};
    state.Keys = {service};
    return state;
  }

  std::string Install() {
    return InstallEntries(File("conf", FPackage.File("conf.txt"), "Copy2", FTarget.File("conf.txt")) +
                              File("setting", "HKCU\\" + FKey, "RegistryWrite", "Setting,STRING,one"),
                          FTarget.File("app"));
  }

  bool LoggedLike(const std::string& part) const {
    for (const std::string& message : FRecorded.Messages)
      if (message.find(part) != std::string::npos) return true;
    return false;
  }

  bool SetAsideInJournals() const {
    for (const auto& entry : fs::directory_iterator(FJournals.NativePath()))
      if (entry.path().filename().string().find(".untrusted-") != std::string::npos) return true;
    return false;
  }

  void ExpectSystemUntouched() {
    EXPECT_EQ(testing::ReadNative(FSystem.Native("victim.dll")), "system file");
    EXPECT_EQ(testing::ReadNative(FSystem.Native("victim.ini")), "original");
    EXPECT_EQ(testing::ReadNative(FSystem.Native("data/keep.txt")), "unrelated");
    std::vector<std::string> children;
    EXPECT_FALSE(platform::Registry::Default()
                     .SubKeys(RegistryRoot::LocalMachine, "SYSTEM\\CurrentControlSet\\Services\\EvilSvc" + FShortName,
                              children)
                     .ok());
  }

  testing::TempFolder FSystem;
  std::string FKey;
};

TEST_F(PlantedJournalTest, RecordsOutsideWhatTheDescriptionNamesAreRefusedAndTheInstallGoesOn) {
  Plant(Forged(FTarget.File("app")));
  EXPECT_EQ(Install(), kDone);
  ExpectSystemUntouched();
  EXPECT_TRUE(LoggedLike("Запись журнала отклонена и не выполнена: \"" + FSystem.File("victim.dll") + "\""));
  EXPECT_TRUE(LoggedLike("EvilSvc"));
  EXPECT_EQ(testing::ReadNative(FTarget.Native("conf.txt")), "settings");
}

TEST_F(PlantedJournalTest, AJournalForAFolderNoInstallMayTakeIsSetAsideWhole) {
  // The engine's own folder: a rollback of a "fresh install" there would
  // have moved the package away and deleted it.
  Plant(Forged(FPackage.Path()));
  EXPECT_EQ(Install(), kDone);
  ExpectSystemUntouched();
  EXPECT_EQ(testing::ReadNative(FPackage.Native("conf.txt")), "settings");
  EXPECT_TRUE(fs::exists(FPackage.Native("setup.xml")));
  EXPECT_TRUE(LoggedLike("Журнал не принят и не выполнен"));
  EXPECT_TRUE(SetAsideInJournals());
}

TEST_F(PlantedJournalTest, AnAlteredJournalIsSetAsideAndNotReplayed) {
  TJournalState state = Forged(FTarget.File("app"));
  state.Asides.clear();
  state.Keys.clear();
  // A record the description allows, so only the checksum can stop it.
  state.Asides = {{FTarget.File("conf.txt"), ""}};
  testing::WriteNative(FTarget.Native("conf.txt"), "the user's");
  Plant(state);
  fs::path journal;
  for (const auto& entry : fs::directory_iterator(FJournals.NativePath()))
    if (entry.path().extension() == ".journal") journal = entry.path();
  std::string text = testing::ReadNative(journal);
  text[text.find("aside\t") + 1] = 'S';
  testing::WriteNative(journal, text);
  EXPECT_EQ(InstallEntries(File("setting", "HKCU\\" + FKey, "RegistryWrite", "Setting,STRING,one"),
                           FTarget.File("app")),
            kDone);
  EXPECT_EQ(testing::ReadNative(FTarget.Native("conf.txt")), "the user's");
  EXPECT_TRUE(LoggedLike("контрольная сумма записи"));
  EXPECT_TRUE(SetAsideInJournals());
}

TEST_F(PlantedJournalTest, AKeyAboveTheDescriptionsIsDeletedOnlyWhileItHoldsNothingElse) {
  // "Software" recorded as made by the run: a rollback would delete the
  // whole tree, another program's key with it.
  const std::string other = "Software\\VolokOther" + FShortName;
  ASSERT_TRUE(platform::Registry::Default().CreateKey(RegistryRoot::CurrentUser, other).ok());
  TJournalState state;
  state.RunId = kRunId;
  state.Folder = FTarget.File("app");
  TKeySnapshot software;
  software.Root = RegistryRoot::CurrentUser;
  software.Key = "Software";
  state.Keys = {software};
  Plant(state);
  EXPECT_EQ(Install(), kDone);
  std::vector<std::string> children;
  EXPECT_TRUE(platform::Registry::Default().SubKeys(RegistryRoot::CurrentUser, other, children).ok());
  EXPECT_TRUE(LoggedLike("HKEY_CURRENT_USER\\Software: в разделе есть то, чего не писала программа"));
}

}  // namespace
}  // namespace volok
