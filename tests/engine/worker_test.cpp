// The worker from construction to the end of a run: description checks,
// install and uninstall procedures, messages, progress, log and registration.
#include "platform/runtime.h"
#include "worker_fixture.h"

namespace volok {
namespace {

using platform::RegistryRoot;

TEST_F(WorkerTest, ConstructionRecordsDescriptionErrors) {
  {
    TInstallerThread worker;  // no setup.xml yet
    EXPECT_TRUE(worker.Error());
    EXPECT_EQ(worker.MessageType(), 1);
    EXPECT_FALSE(worker.MessageFatal());
  }
  WriteDescription("", FTarget.Path());
  {
    TInstallerThread worker;
    EXPECT_TRUE(worker.Error());
    EXPECT_EQ(worker.Message(), "Нет описания процесса установки/удаления.");
  }
  WriteTextFile("0011", FPackage.File("setup.xml"), 65001);
  {
    TInstallerThread worker;
    EXPECT_EQ(worker.Message(), "Ошибка расшифровки");
  }
}

TEST_F(WorkerTest, PayloadsAreVerifiedWithOrWithoutTheirCrc) {
  testing::WriteNative(FPackage.Native("data.zip"), "payload bytes");
  std::uint32_t crc = 0;
  ASSERT_TRUE(FileCrc32(FPackage.File("data.zip"), crc));
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08X", crc);
  std::string good = "<File><Name>a</Name><FileName>data.zip</FileName><Action>UnZip</Action>"
                     "<Destination>x</Destination><CRC32>" + std::string(hex) + "</CRC32></File>";
  std::string unchecked = "<File><Name>b</Name><FileName>missing.zip</FileName><Action>UnZip</Action>"
                          "<Destination>x</Destination><CRC32>0</CRC32></File>";
  // An entry recorded with CRC 0 is checked all the same: its file must be
  // one the manifest vouches for.
  WriteDescription("<Install>" + good + unchecked + "</Install>", FTarget.Path());
  EXPECT_EQ(TInstallerThread().Message(), "Ошибка расчета контрольных сумм установочных файлов.");
  WriteDescription("<Install>" + good + "</Install>", FTarget.Path());
  {
    TInstallerThread worker;
    EXPECT_FALSE(worker.Error()) << worker.Message();
    EXPECT_FALSE(worker.UnInstaller());
    EXPECT_EQ(worker.Vars().ProcessF("{Version}|{Name}|{InstallPath}"), "1.2.3.4|Demo 1.2.3.4|" + FTarget.Path());  // Version comes after Name
  }
  testing::WriteNative(FPackage.Native("data.zip"), "payload bytez");
  TInstallerThread altered;
  EXPECT_TRUE(altered.Error());
  EXPECT_EQ(altered.Message(), "Ошибка расчета контрольных сумм установочных файлов.");
}

TEST_F(WorkerTest, InstallRunsChosenEntriesWritesUninstallerAndRegisters) {
  std::string target = FTarget.File("Новая папка");
  WriteDescription("<Options><Default>full</Default></Options><Install>" + Entry("one", "Nothing") +
                       Entry("skipped", "Nothing", "<Options>docs</Options>") +
                       Entry("three", "Nothing", "<Options>FULL</Options>") + "</Install><UnInstall>" +
                       Entry("u1", "Nothing", "<Arch>x86</Arch>") +
                       Entry("u2", "Nothing", "<Options>docs</Options>") + "</UnInstall>",
                   target);
  TInstallerThread worker;
  ASSERT_FALSE(worker.Error()) << worker.Message();
  Attach(worker);
  Run(worker);
  EXPECT_FALSE(worker.Error()) << worker.Message();
  std::vector<std::string> expected = {
      "4|-|[Install] Установка программы в папку: \"" + target + "\"",
      "4|-|[Operation] one",
      "4|-|[Operation] three",
      "0|-|[Install] Установка завершена.",
  };
  EXPECT_EQ(FRecorded.Messages, expected);
  EXPECT_EQ(FRecorded.StepsAnnounced, 5);
  EXPECT_EQ(FRecorded.Steps, 5);
  EXPECT_EQ(FRecorded.Starts, 1);
  EXPECT_EQ(FRecorded.Stops, 1);
  EXPECT_EQ(LogFileName(), target + "\\setup.log");

  // A byte copy of the sealed engine.
  EXPECT_EQ(testing::ReadNative(FTarget.Native("Новая папка/uninstall.exe")), testing::ReadNative(FPackage.Native("setup.exe")));
  std::string saved = DecryptText(ReadTextFile(target + "\\uninstall.xml"));
  EXPECT_NE(saved.find(target + "\\u1"), std::string::npos) << saved;  // placeholders resolved
  EXPECT_EQ(saved.find("u2"), std::string::npos);                       // option not chosen
  EXPECT_EQ(saved.find("<Arch>"), std::string::npos);
  EXPECT_EQ(saved.find("<Install>"), std::string::npos);

  EXPECT_EQ(RegistryText("DisplayName"), "Demo {Version}");
  EXPECT_EQ(RegistryText("DisplayVersion"), "1.2.3.4");
  EXPECT_EQ(RegistryText("DisplayIcon"), target + "\\uninstall.exe");
  EXPECT_EQ(RegistryText("UninstallString"), "\"" + target + "\\uninstall.exe\"");
  EXPECT_EQ(RegistryText("QuietUninstallString"), "\"" + target + "\\uninstall.exe\" silent");
  EXPECT_EQ(RegistryText("InstallLocation"), target);
  EXPECT_EQ(RegistryText("Publisher"), "Фирма");
  EXPECT_EQ(RegistryText("URLUpdateInfo"), "http://x.test");
  EXPECT_EQ(RegistryText("InstallDate").size(), 8u);
  EXPECT_EQ(RegistryText("NoModify"), "dword:1");
  EXPECT_EQ(RegistryText("NoRepair"), "dword:1");
}

TEST_F(WorkerTest, InstallingAgainMovesTheOldContentToBackup) {
  std::string target = FTarget.File("app");
  WriteDescription("<Install>" + Entry("one", "Nothing") + "</Install>", target);
  for (int round = 0; round < 2; ++round) {
    TInstallerThread worker;
    worker.OnMessage = &TInstallerThread::LogSilent;
    Run(worker);
    ASSERT_FALSE(worker.Error()) << worker.Message();
    testing::WriteNative(FTarget.Native("app/user.txt"), "round " + std::to_string(round));
  }
  EXPECT_EQ(testing::ReadNative(FTarget.Native("app/Backup/user.txt")), "round 0");
  EXPECT_FALSE(testing::ReadNative(FTarget.Native("app/Backup/setup.log")).empty());
  EXPECT_FALSE(std::filesystem::exists(FTarget.Native("app/user.txt")) &&
               testing::ReadNative(FTarget.Native("app/user.txt")) == "round 0");
  std::string log = testing::ReadNative(FTarget.Native("app/setup.log"));
  EXPECT_EQ(log.rfind("\xEF\xBB\xBF", 0), 0u);
  EXPECT_NE(log.find(";[Operation] one\r\n"), std::string::npos);
  EXPECT_NE(log.find(";[Install] Установка завершена.\r\n"), std::string::npos);
}

TEST_F(WorkerTest, WithoutAdministratorRightsNothingIsTouched) {
  FSecurity.Admin = false;
  std::string target = FTarget.File("never");
  WriteDescription("<Install>" + Entry("one", "Nothing") + "</Install>", target);
  TInstallerThread worker;
  Attach(worker);
  Run(worker);
  EXPECT_TRUE(worker.Error());
  ASSERT_FALSE(FRecorded.Messages.empty());
  EXPECT_EQ(FRecorded.Messages.back(),
            "1|F|Установка завершена с ошибкой: Недостаточно прав. Попробуйте запустить программу с правами "
            "администратора.");
  EXPECT_FALSE(std::filesystem::exists(FTarget.Native("never")));
  EXPECT_EQ(FRecorded.Stops, 1);
}

TEST_F(WorkerTest, TerminationTakesEffectBeforeTheNextEntry) {
  std::string target = FTarget.File("app");
  WriteDescription("<Install>" + Entry("one", "Nothing") + Entry("two", "Nothing") + "</Install>", target);
  TInstallerThread worker;
  Attach(worker);
  worker.OnProgressStep = [&](TInstallerThread& sender) {
    ++FRecorded.Steps;
    sender.Terminate();
  };
  Run(worker);
  EXPECT_TRUE(worker.Error());
  EXPECT_EQ(worker.ExitCode(), kExitCancelled);
  EXPECT_EQ(FRecorded.Messages.back(), "1|F|Установка завершена с ошибкой: Процесс установки прерван.");
  EXPECT_FALSE(std::filesystem::exists(FTarget.Native("app/uninstall.xml")));
  EXPECT_EQ(RegistryText("DisplayName"), "<missing>");
}

TEST_F(WorkerTest, AHandlerThatThrowsEndsTheRun) {
  std::string target = FTarget.File("app");
  WriteDescription("<Install>" + Entry("one", "Nothing") + Entry("two", "Nothing") + "</Install>", target);
  TInstallerThread worker;
  Attach(worker);
  worker.OnMessage = [&](TInstallerThread&, const std::string& text, int type, bool fatal) {
    FRecorded.Messages.push_back(std::to_string(type) + "|" + (fatal ? "F" : "-") + "|" + text);
    if (text == "[Operation] one") throw std::runtime_error("view closed");
  };
  Run(worker);
  EXPECT_TRUE(worker.Error());
  // A failure that carries no code of its own is the fatal one.
  EXPECT_EQ(worker.ExitCode(), kExitFatal);
  EXPECT_EQ(FRecorded.Messages.back(), "1|F|Установка завершена с ошибкой: view closed");
  EXPECT_EQ(std::count(FRecorded.Messages.begin(), FRecorded.Messages.end(), "4|-|[Operation] two"), 0);
}

// Whoever acts on the outcome (a second run at once, a tool that repairs
// right after the install) must find the program's journal free: the run
// lets it go before its last message and its stop event, whether it
// completed or failed.
TEST_F(WorkerTest, TheJournalIsFreeWhenTheOutcomeIsTold) {
  std::string target = FTarget.File("app");
  for (const std::string& entries : {Entry("one", "Nothing"), File("bad", FTarget.File("missing.txt"), "Copy", target)}) {
    WriteDescription("<Install>" + entries + "</Install>", target);
    TInstallerThread worker;
    Attach(worker);
    std::vector<std::string> taken;
    auto take = [&](const std::string& when) {
      try {
        TRunJournal journal(platform::JournalFolder(), FShortName);
        taken.push_back(when);
      } catch (const std::exception& error) {
        taken.push_back(when + ": " + error.what());
      }
    };
    worker.OnMessage = [&](TInstallerThread&, const std::string&, int type, bool) {
      if (type == kMessageDone || type == kMessageError) take("outcome");
    };
    worker.OnStop = [&](TInstallerThread&) { take("stop"); };
    Run(worker);
    EXPECT_EQ(taken, (std::vector<std::string>{"outcome", "stop"})) << entries;
  }
}

TEST_F(WorkerTest, APackageWithoutInstallEntriesNeverUninstalls) {
  // An installed program of the same short name, whose entry must survive.
  ASSERT_TRUE(platform::Registry::Default().CreateKey(RegistryRoot::LocalMachine, RegistrationKey()).ok());
  ASSERT_TRUE(platform::Registry::Default().SetString(RegistryRoot::LocalMachine, RegistrationKey(), "DisplayName", "kept").ok());
  WriteDescription("<UnInstall>" + Entry("u1", "Nothing") + "</UnInstall>", FTarget.Path());
  std::filesystem::rename(FPackage.Native("uninstall.xml"), FPackage.Native("setup.xml"));
  SetExeFileName(FPackage.File("setup.exe"));
  TInstallerThread worker;
  EXPECT_TRUE(worker.Error());
  EXPECT_EQ(worker.Message(), "Нет описания процесса установки/удаления.");
  EXPECT_EQ(RegistryText("DisplayName"), "kept");
}

TEST_F(WorkerTest, UninstallerRunsItsEntriesAndRemovesTheRegistration) {
  ASSERT_TRUE(platform::Registry::Default().CreateKey(RegistryRoot::LocalMachine, RegistrationKey() + "\\Sub").ok());
  WriteDescription("<UnInstall>" + Entry("u1", "Nothing") + Entry("u2", "Nothing") + "</UnInstall>", FTarget.Path());
  TInstallerThread worker;
  ASSERT_FALSE(worker.Error()) << worker.Message();
  EXPECT_TRUE(worker.UnInstaller());
  Attach(worker);
  Run(worker);
  EXPECT_FALSE(worker.Error()) << worker.Message();
  std::vector<std::string> expected = {
      "4|-|[UnInstall] Удаление программы из папки: \"" + FTarget.Path() + "\"",
      "4|-|[Operation] u1",
      "4|-|[Operation] u2",
      "0|-|[UnInstall] Удаление завершено.",
  };
  EXPECT_EQ(FRecorded.Messages, expected);
  EXPECT_EQ(FRecorded.StepsAnnounced, 4);
  EXPECT_EQ(FRecorded.Steps, 4);
  std::vector<std::string> names;
  EXPECT_FALSE(platform::Registry::Default().SubKeys(RegistryRoot::LocalMachine, RegistrationKey(), names).ok());
}

}  // namespace
}  // namespace volok
