// What the builder refuses so that a package it reports created installs:
// output names outside the package or over the engine, descriptions the
// installer cannot read, sources that are not plain files and folders.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "builder_fixture.h"
#include "common/file_names.h"
#include "platform/file_system.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace volok {
namespace {

namespace fs = std::filesystem;

class PackageChecksTest : public BuilderTest {
 protected:
  void SetUp() override {
    BuilderTest::SetUp();
    testing::WriteNative(FWork.Native("readme.txt"), "read me");
    fs::create_directories(FWork.Native("app/sub"));
    testing::WriteNative(FWork.Native("app/main.txt"), "main");
    testing::WriteNative(FWork.Native("app/sub/deep.txt"), "deep");
  }
  // The fixed text starts the line; the entry's name and kinds follow it.
  bool Logged(const std::string& line) const {
    return std::any_of(FLog.begin(), FLog.end(), [&](const std::string& l) { return l.rfind(line, 0) == 0; });
  }
  std::string Warning(int position, const std::string& message) const {
    return "1|[MakeInstall] Предупреждение (" + std::to_string(position) + "): " + message;
  }
};

TEST_F(PackageChecksTest, OutputNamesStayInsideThePackageAndSpareItsOwnFiles) {
  std::string readme = FWork.File("readme.txt");
  const char* refused[] = {"setup.exe", "SETUP.XML", "..\\escape.txt", "sub\\..\\..\\escape2.txt", "\\rooted.txt",
                           "C:\\drive.txt", "setup.exe.", "Setup.Exe", "a.txt:stream", "nul.txt"};
  std::string entries;
  for (const char* name : refused) entries += Entry(name, readme, "", "");
  entries += Entry("x.txt", readme, "", "", "<UpdateDestination>..\\escape3.txt</UpdateDestination>");
  entries += Entry("kept.txt", readme, "", "");
  // Command entries produce no file: their FileName is the command's.
  entries += Entry("\"{InstallPath}\\bin\\app.cmd\" /quiet", "", "Command", "None");
  entries += Entry("setup.exe", "", "Command", "None");
  WriteDescription(entries);
  ASSERT_TRUE(Build());
  int position = 0;
  for (const char* name : refused)
    EXPECT_TRUE(Logged(Warning(++position, "Недопустимое имя файла в пакете: " + std::string(name) + ".")))
        << name;
  EXPECT_TRUE(Logged(Warning(++position, "Недопустимое имя файла в пакете: ..\\escape3.txt.")));
  EXPECT_TRUE(Logged("0|[MakeUpdate]: Установка создана. Предупреждений: " + std::to_string(position)));
  // The manifest names the description and the one file written, not the
  // commands' names.
  TPackageManifest manifest = SealedManifest("2.5.0.0");
  EXPECT_EQ(manifest.Entries.size(), 2u);
  EXPECT_NE(manifest.Find("kept.txt"), nullptr);
  EXPECT_EQ(testing::ReadNative(PackageNative("2.5.0.0", "kept.txt")), "read me");
  EXPECT_EQ(PackageDocument("2.5.0.0")->DocumentElement()->SelectNodes("Install/File").size(), 3u);
  for (const char* escaped : {"escape.txt", "escape2.txt", "escape3.txt", "output-installer/escape.txt",
                              "output-installer/escape3.txt"})
    EXPECT_FALSE(fs::exists(FWork.Native(escaped))) << escaped;
}

TEST_F(PackageChecksTest, APackageIsCreatedOnlyWhenItsInstallerCanReadIt) {
  std::string entry = Entry("a.txt", FWork.File("readme.txt"), "", "");
  struct Case {
    std::string FTail;     // after the install list
    std::string FHeader;   // replaces the fixture's header when set
    std::string FMessage;  // empty: the package is created
  } cases[] = {
      {"", "<Name>Демо</Name><ShortName>Demo</ShortName><InstallPath>C:\\D</InstallPath>",
       "[ReadXML] Ошибка: Нет наименования компании."},
      {"<Options><Option><Name>o</Name></Option></Options>", "", "[ReadXML] Ошибка: Нет данных для группы."},
      {"<UnInstall><File><Name>u</Name><FileName>{InstallPath}</FileName><Action>DeleteFolder</Action>"
       "<Destination>-</Destination></File></UnInstall>",
       "", ""},
  };
  for (const Case& c : cases) {
    std::string xml = "<Installer><UpdateSource/><UpdateType/><UpdateAction/><Number>3</Number>" +
                      (c.FHeader.empty() ? Header() : c.FHeader) + "<Install>" + entry + "</Install>" + c.FTail +
                      "</Installer>";
    WriteRaw(xml);
    FLog.clear();
    EXPECT_EQ(Build(), c.FMessage.empty()) << xml;
    if (c.FMessage.empty()) {
      EXPECT_EQ(FLog.at(FLog.size() - 2), "0|[MakeUpdate]: Установка создана. Предупреждений: 0");
      continue;
    }
    ASSERT_GE(FLog.size(), 2u);
    EXPECT_EQ(FLog[FLog.size() - 2], "1|[MakeUpdate] Ошибка: " + c.FMessage) << xml;
    EXPECT_EQ(FLog.back(), "1|[MakeUpdate]: Установка не создана.");
    EXPECT_FALSE(fs::exists(PackageNative("3.0.0.0", "setup.exe"))) << "no engine beside a broken description";
  }
}

TEST_F(PackageChecksTest, AnInstallEntryTheInstallerWouldRefuseIsLeftOut) {
  std::string bad = "<File><UpdateSource>" + FWork.File("readme.txt") +
                    "</UpdateSource><UpdateType/><UpdateAction/><Name>b</Name><FileName>b.txt</FileName><Action>Copy"
                    "</Action><Destination> </Destination><Size/><CRC32/></File>";
  WriteDescription(Entry("a.txt", FWork.File("readme.txt"), "", "") + bad);
  ASSERT_TRUE(Build());
  EXPECT_TRUE(Logged(Warning(2, "Нет данных для файла.")));
  EXPECT_FALSE(fs::exists(PackageNative("2.5.0.0", "b.txt")));
  EXPECT_EQ(PackageDocument("2.5.0.0")->DocumentElement()->SelectNodes("Install/File").size(), 1u);
}

// A source file whose reads fail: the warning names it after the fixed text.
class FailingReads final : public platform::FileSystemWrapper {
 public:
  FailingReads(platform::FileSystem& target, std::string victim) : FileSystemWrapper(target), FVictim(std::move(victim)) {}
  platform::Status OpenFile(const std::string& path, platform::FileAccess access, platform::FileShare share,
                            std::unique_ptr<platform::File>& file) override {
    platform::Status status = FTarget.OpenFile(path, access, share, file);
    if (status.ok() && path == FVictim) file = std::make_unique<Broken>(std::move(file));
    return status;
  }

 private:
  struct Broken final : platform::FileWrapper {
    using FileWrapper::FileWrapper;
    platform::Status Read(void*, std::size_t, std::size_t& done) override {
      done = 0;
      return platform::Status::Failure("сбой чтения");
    }
  };
  std::string FVictim;
};

TEST_F(PackageChecksTest, AZipFailureNamesTheFileThatFailed) {
  std::string victim = FWork.File("app") + "\\sub\\deep.txt";
  FailingReads failing(platform::FileSystem::Default(), victim);
  platform::ScopedDefault<platform::FileSystem> scope(failing);
  WriteDescription(Entry("app.zip", FWork.File("app"), "Folder", "Zip"));
  EXPECT_FALSE(Build());  // its only entry failed
  std::string prefix = "[ZipFolder] Ошибка архивации каталога: " + FWork.File("app") + ". ";
  auto warning = std::find_if(FLog.begin(), FLog.end(), [](const std::string& line) { return line.rfind("1|", 0) == 0; });
  ASSERT_NE(warning, FLog.end());
  EXPECT_EQ(warning->rfind(Warning(1, prefix), 0), 0u) << *warning;
  EXPECT_NE(warning->find(victim), std::string::npos) << *warning;
  EXPECT_NE(warning->find("сбой чтения"), std::string::npos) << *warning;
}

#ifndef _WIN32
// A FIFO would hold a build that opens it for ever; it is refused by name.
TEST_F(PackageChecksTest, SourcesThatAreNotFilesOrFoldersAreRefusedUnopened) {
  ASSERT_EQ(::mkfifo(FWork.Native("pipe").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(FWork.Native("app/sub/pipe").c_str(), 0600), 0);
  fs::create_symlink(FWork.Native("pipe"), FWork.Native("link-to-pipe"));
  WriteDescription(Entry("a.txt", FWork.File("pipe"), "", "") + Entry("b.txt", FWork.File("pipe"), "", "CopyNoCRC") +
                   Entry("c.txt", FWork.File("link-to-pipe"), "", "") + Entry("d.zip", FWork.File("app"), "Folder", "Zip") +
                   Entry("e.zip", FWork.File("pipe"), "Folder", "Zip"));
  EXPECT_FALSE(Build());  // every entry failed
  EXPECT_TRUE(Logged(Warning(1, NotFileOrFolderMessage(FWork.File("pipe")))));
  EXPECT_TRUE(Logged(Warning(2, NotFileOrFolderMessage(FWork.File("pipe")))));
  EXPECT_TRUE(Logged(Warning(3, NotFileOrFolderMessage(FWork.File("link-to-pipe")))));
  EXPECT_TRUE(Logged(Warning(4, "[ZipFolder] Ошибка архивации каталога: " + FWork.File("app") + ". " +
                                    NotFileOrFolderMessage(FWork.File("app") + "\\sub\\pipe"))));
  EXPECT_TRUE(Logged(Warning(5, NotFileOrFolderMessage(FWork.File("pipe")))));
  EXPECT_TRUE(Logged("1|[MakeUpdate] Ошибка: Ни одна запись установки не собрана, пакет не создан."));

  WriteDescription(Entry("a.txt", FWork.File("readme.txt"), "", ""), FWork.File("pipe"));
  FLog.clear();
  EXPECT_FALSE(Build());
  EXPECT_TRUE(Logged("1|[MakeUpdate] Ошибка: " + NotFileOrFolderMessage(FWork.File("pipe"))));
}
#endif

TEST_F(PackageChecksTest, APerUserDescriptionIsWarnedOfTheEntriesAPerUserRunRefuses) {
  auto command = [](const std::string& name, const std::string& file, const std::string& action,
                    const std::string& destination) {
    return "<File><UpdateSource/><UpdateType>Command</UpdateType><UpdateAction>None</UpdateAction><Name>" + name +
           "</Name><FileName>" + file + "</FileName><Action>" + action + "</Action><Destination>" + destination +
           "</Destination><Size/><CRC32/></File>";
  };
  const std::string entries = command("общий ярлык", "{InstallPath}\\app.exe", "Link", "{CommonDesktop}\\App.lnk") +
                              command("ключ", "HKLM\\Software\\Demo", "RegistryWrite", "v,STRING,1") +
                              command("свой ключ", "hkcu\\Software\\Demo", "RegistryWrite", "v,STRING,1") +
                              command("свой ярлык", "{InstallPath}\\app.exe", "Link", "{Desktop}\\App.lnk");
  const std::string user = " Установка для текущего пользователя (Scope = user) откажется от неё.";
  WriteDescription(entries, "", "2.5", "<Scope>user</Scope>");
  ASSERT_TRUE(Build()) << FBuilder.LastError();
  EXPECT_TRUE(Logged(Warning(1, "Запись пишет в папку для всех пользователей {CommonDesktop}." + user)));
  EXPECT_TRUE(Logged(Warning(2, "Запись обращается к разделу HKLM, а не к HKEY_CURRENT_USER." + user)));
  EXPECT_TRUE(Logged("0|[MakeUpdate]: Установка создана. Предупреждений: 2"));
  WriteDescription(entries, "", "2.6", "<Scope>either</Scope>");
  ASSERT_TRUE(Build());
  EXPECT_TRUE(Logged(Warning(2, "Запись обращается к разделу HKLM, а не к HKEY_CURRENT_USER. Установка для "
                                "текущего пользователя (Scope = either без /allusers) откажется от неё.")));
  // A machine-wide description may write them all.
  WriteDescription(entries, "", "2.7");
  ASSERT_TRUE(Build());
  EXPECT_TRUE(Logged("0|[MakeUpdate]: Установка создана. Предупреждений: 0"));
}

}  // namespace
}  // namespace volok
