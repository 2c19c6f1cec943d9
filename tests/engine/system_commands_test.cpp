// Registry, shortcut and process commands: their parsing rules, and whole
// install runs that use them.
#include "engine/system_commands.h"

#include "model/install_file.h"
#include "platform/runtime.h"
#include "platform/shell.h"
#include "worker_fixture.h"

namespace volok {
namespace {

namespace fs = std::filesystem;
TInstallReg Parse(const std::string& file_name, const std::string& destination) {
  TInstallFile entry;
  entry.SetFileName(file_name);
  entry.SetDestination(destination);
  return ParseRegistryEntry(entry);
}

TEST(RegistryEntryTest, RootKeyAndValueList) {
  TInstallReg quoted = Parse("HKLM\\Software\\Firm\\App", "InstallDir,STRING,\"C:\\Program Files\\App\"");
  EXPECT_EQ(quoted.Root, 0x80000002u);
  EXPECT_EQ(quoted.Key, "Software\\Firm\\App");
  EXPECT_EQ(quoted.ValueName, "InstallDir");
  EXPECT_EQ(quoted.ValueType, 1);
  EXPECT_EQ(quoted.Value, "C:\\Program Files\\App");
  EXPECT_EQ(Parse("HKLM\\S", "InstallDir,STRING,C:\\Program Files\\App").Value, "C:\\Program");
  TInstallReg dword = Parse("hkcu\\ Software\\X ", "Version, dword, 5");
  EXPECT_EQ(dword.Root, 0x80000001u);
  EXPECT_EQ(dword.Key, "Software\\X");
  EXPECT_EQ(dword.ValueType, 4);
  EXPECT_EQ(dword.Value, "5");
  EXPECT_EQ(Parse("HKEY_LOCAL_MACHINE", "a").Root, 0u);
  EXPECT_EQ(Parse("HKLN\\Software", "a").Root, 0u);
  EXPECT_EQ(Parse("HKU\\x", "v,QWORD,1").ValueType, 0);
  EXPECT_EQ(Parse("HKCC\\x", "").ValueName, "");
}

TEST(RegistryEntryTest, DwordTexts) {
  const std::pair<const char*, std::uint32_t> cases[] = {
      {"5", 5},          {"$10", 16},       {"0x1F", 31},      {"x1f", 31},   {"  +7", 7},
      {"-1", 0xFFFFFFFF}, {"ten", 0},        {"", 0},           {"5 ", 0},     {"4294967295", 0xFFFFFFFF},
      {"4294967296", 0}, {"$FFFFFFFF", 0xFFFFFFFF}, {"$100000000", 0}, {"0x", 0},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(RegistryDwordValue(text), value) << text;
}

TEST(LinkTargetTest, QuotedProgramTakesArguments) {
  TLinkTarget quoted = SplitLinkTarget("\"C:\\App\\app.exe\" -min ");
  EXPECT_EQ(quoted.Program, "C:\\App\\app.exe");
  EXPECT_EQ(quoted.Arguments, "-min");
  EXPECT_EQ(quoted.WorkingFolder, "C:\\App\\");
  TLinkTarget plain = SplitLinkTarget("C:\\My App\\app.exe -x");
  EXPECT_EQ(plain.Program, "C:\\My App\\app.exe -x");
  EXPECT_EQ(plain.Arguments, "");
  EXPECT_EQ(plain.WorkingFolder, "C:\\My App\\");
  TLinkTarget open = SplitLinkTarget("ignored \"D:\\x.exe");
  EXPECT_EQ(open.Program, "D:\\x.exe");
  EXPECT_EQ(open.WorkingFolder, "D:\\");
  EXPECT_EQ(SplitLinkTarget("app.exe").WorkingFolder, "");
}

TEST_F(WorkerTest, RegistryAndShortcutEntriesDoTheirWorkAndNeverFail) {
  std::string key = "Software\\VolokCommands" + FShortName;
  std::string entries =
      File("w1", "HKCU\\" + key + "\\Sub", "RegistryWrite", "Path,STRING,\"{InstallPath}\\a b\"") +
      File("w2", "hkcu\\" + key + "\\Sub", "RegistryWrite", "Count, DWORD, $10") +
      File("w3", "HKCU\\" + key + "\\Keep", "RegistryWrite", "x,QWORD,1") +
      File("w4", "HKCU\\" + key + "\\Gone", "RegistryWrite", "v,STRING,1") +
      File("d1", "HKCU\\" + key + "\\Gone", "RegistryDelete", "-") +  // a value that is not there
      File("d2", "HKCU\\" + key + "\\Gone", "RegistryDelete", "v") +
      File("bad", "HKLN\\" + key, "RegistryWrite", "v,STRING,1") +
      File("link", "\"{InstallPath}\\app.exe\" -min", "Link", FTarget.File("Меню\\Группа\\App.lnk"));
  std::string target = FTarget.File("app");
  EXPECT_EQ(InstallEntries(entries, target), kDone);
  auto& registry = platform::Registry::Default();
  platform::RegistryValue value;
  ASSERT_TRUE(registry.ReadValue(platform::RegistryRoot::CurrentUser, key + "\\Sub", "Path", value).ok());
  EXPECT_EQ(value.Text, target + "\\a b");
  ASSERT_TRUE(registry.ReadValue(platform::RegistryRoot::CurrentUser, key + "\\Sub", "Count", value).ok());
  EXPECT_EQ(value.Number, 16u);
  std::vector<std::string> names;
  ASSERT_TRUE(registry.SubKeys(platform::RegistryRoot::CurrentUser, key, names).ok());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Gone", "Keep", "Sub"}));
  EXPECT_FALSE(registry.ReadValue(platform::RegistryRoot::CurrentUser, key + "\\Gone", "v", value).ok());
  EXPECT_TRUE(Logged("4|-|[RegistryWrite] Запись в реестр: HKLN\\" + key));
  EXPECT_TRUE(fs::exists(FTarget.Native("Меню/Группа/App.lnk")));

  // Deleting the key with an empty value list takes its sub-keys along.
  EXPECT_EQ(InstallEntries(File("d", "HKCU\\" + key, "RegistryDelete", "\"\""), FTarget.File("b")), kDone);
  EXPECT_FALSE(registry.SubKeys(platform::RegistryRoot::CurrentUser, key, names).ok());
}

TEST_F(WorkerTest, RunWaitWaitsForTheProgram) {
#ifdef _WIN32
  std::string command = "cmd.exe /c echo done> \"" + FTarget.File("out.txt") + "\"";
#else
  std::string command = "Z:\\bin\\sh -c \"sleep 0.3; echo done > '" + FTarget.NativePath().string() + "/out.txt'\"";
#endif
  EXPECT_EQ(InstallEntries(File("wait", command, "RunWait", FTarget.Path()), FTarget.File("app")), kDone);
  std::string out = testing::ReadNative(FTarget.Native("out.txt"));
  EXPECT_EQ(out.substr(0, 4), "done");
  EXPECT_TRUE(Logged("4|-|[RunWait] Запуск файла на выполнение с ожиданием завершения: " + command));
}

TEST_F(WorkerTest, RunWaitLogsTheExitCodeAndFailsOnlyWhenTheEntryListsTheGoodOnes) {
#ifdef _WIN32
  std::string command = "cmd.exe /c exit 3";
#else
  std::string command = "Z:\\bin\\sh -c \"exit 3\"";
#endif
  std::string target = FTarget.File("app");
  EXPECT_EQ(InstallEntries(File("wait", command, "RunWait", FTarget.Path()), target), kDone);
  EXPECT_TRUE(Logged("2|-|[RunWait] Программа завершилась с кодом 3: " + command));
  std::string listed = "<File><Name>w</Name><FileName>" + command + "</FileName><Action>RunWait</Action>"
                       "<Destination>" + FTarget.Path() + "</Destination><ExitCodes>0, 3010</ExitCodes></File>";
  std::string outcome = InstallEntries(listed, target);
  EXPECT_EQ(outcome.rfind("Установка завершена с ошибкой: [RunWait] Программа завершилась с кодом 3", 0), 0u)
      << outcome;
}

#ifdef _WIN32
// Natively an exit status keeps 8 bits, so only Windows sees a child's 3010.
TEST_F(WorkerTest, ARunWaitChildThatAsksForARestartMakesTheRunExitWith3010) {
  const std::string target = FTarget.File("app");
  for (const char* code : {"3010", "1641"})
    for (const std::string& listed : {std::string(), std::string("<ExitCodes>0,") + code + "</ExitCodes>"}) {
      WriteDescription("<Install>" + File("wait", std::string("cmd.exe /c exit ") + code, "RunWait", FTarget.Path(), listed) +
                           "</Install>",
                       target);
      TInstallerThread worker;
      Attach(worker);
      Run(worker);
      EXPECT_EQ(worker.Message(), kDone) << code << listed;
      EXPECT_EQ(worker.ExitCode(), kExitRestartNeeded) << code << listed;
    }
}
#endif

TEST_F(WorkerTest, AProgramThatCannotStartFailsRunAndRunWait) {
  std::string missing = FTarget.File("no such program.exe");
  for (const char* action : {"Run", "RunWait"}) {
    std::string outcome = InstallEntries(File("run", "\"" + missing + "\"", action, FTarget.Path()), FTarget.File("app"));
    EXPECT_EQ(outcome.rfind(std::string("Установка завершена с ошибкой: [") + action + "] Не удалось запустить программу", 0),
              0u)
        << outcome;
  }
}

// An entry that names the running engine itself (a careless description's
// "{InstallerPath}\setup.exe") must not end the run: the rest of the install,
// its log and its registration still follow.
TEST_F(WorkerTest, ProcessTerminateOfTheRunningEngineLetsTheRunGoOn) {
  std::string self = platform::ExecutablePath();
  EXPECT_EQ(InstallEntries(File("end", self, "ProcessTerminate", "\"\"") + File("after", "HKCU\\Software\\VolokSelf", "RegistryWrite", "\"\""),
                           FTarget.File("app")),
            kDone);
  EXPECT_TRUE(Logged("4|-|[ProcessTerminate] Завершение процессса: " + self));
  EXPECT_TRUE(Logged("4|-|[RegistryWrite] Запись в реестр: HKCU\\Software\\VolokSelf"));
  (void)platform::Registry::Default().DeleteKeyTree(platform::RegistryRoot::CurrentUser, "Software\\VolokSelf");
}

}  // namespace
}  // namespace volok
