#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "archive/archive_password.h"
#include "archive/zip_reader.h"
#include "builder_fixture.h"
#include "common/crc32.h"
#include "common/xml_helpers.h"
#include "scoped_env.h"

namespace volok {
namespace {

namespace fs = std::filesystem;

class PackageBuilderTest : public BuilderTest {
 protected:
  void SetUp() override {
    BuilderTest::SetUp();
    testing::WriteNative(FWork.Native("readme.txt"), "read me");
    fs::create_directories(FWork.Native("app") / "sub");
    testing::WriteNative(FWork.Native("app") / "main.txt", "main");
    testing::WriteNative(FWork.Native("app") / "sub" / ".hidden", "hidden");
  }

  std::string Count(const std::string& version, const std::string& path) {
    auto document = PackageDocument(version);
    return std::to_string(document->DocumentElement()->SelectNodes(path).size());
  }
};

TEST_F(PackageBuilderTest, EntriesAreBuiltLastToFirstAndAFailingOneIsLeftOutAndCounted) {
  std::string second = "<File><UpdateSource>x</UpdateSource><UpdateType/><UpdateAction/><Name>broken</Name>"
                       "<FileName>broken.txt</FileName><Action>Copy</Action><Destination>d</Destination>"
                       "<Size>0</Size></File>";
  WriteDescription(Entry("readme.txt", FWork.File("readme.txt"), "", "") + second +
                   Entry("app.zip", FWork.File("app"), "Folder", "Zip"));
  ASSERT_TRUE(Build());

  std::vector<std::string> expected = {
      "4|[MakeInstall]: Создание установки.",
      "4|[Folder/Zip]: Архивирование папки: " + FWork.File("app"),
      "1|[MakeInstall] Предупреждение (2): Нет данных для файла. Нет элементов: CRC32. Запись пропущена. [Запись "
      "\"broken\", Action Copy, /, FileName broken.txt, строка 1]",
      "4|[File/Copy]: Копирование файла: " + FWork.File("readme.txt"),
      "0|[MakeUpdate]: Установщик одним файлом: " + PackageFolder("2.5.0.0") + "Demo-2.5.0.0-setup.exe",
      "0|[MakeUpdate]: Установка создана. Предупреждений: 1. Пропущено записей: 1 (их нет в пакете)",
      "0|[MakeUpdate]: Каталог с файлами: " + PackageFolder("2.5.0.0"),
  };
  EXPECT_EQ(FLog, expected);

  auto document = PackageDocument("2.5.0.0");
  auto root = document->DocumentElement();
  EXPECT_EQ(GetXmlChildText(root.get(), "Number"), "2.5.0.0");
  auto files = root->SelectNodes("Install/File");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(GetXmlChildText(files[0].get(), "Name"), "readme.txt");
  EXPECT_EQ(GetXmlChildText(files[0].get(), "Size"), "7");
  std::uint32_t crc = 0;
  ASSERT_TRUE(FileCrc32(FWork.File("readme.txt"), crc));
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08X", crc);
  EXPECT_EQ(GetXmlChildText(files[0].get(), "CRC32"), hex);
  for (const char* builder_only : {"//UpdateSource", "//UpdateType", "//UpdateAction", "//UpdateDestination"})
    EXPECT_TRUE(root->SelectNodes(builder_only).empty()) << builder_only;
  EXPECT_EQ(GetXmlChildText(root.get(), "Name"), "Демо");  // other elements pass unchanged
  // The engine carries the manifest of the description and of every file
  // the entries wrote, and nothing else changed in it but its record.
  const std::string engine = testing::StandInEngine(), sealed = testing::ReadNative(PackageNative("2.5.0.0", "setup.exe"));
  EXPECT_EQ(sealed.substr(0, 128), engine.substr(0, 128));
  EXPECT_EQ(sealed.substr(192, engine.size() - 192), engine.substr(192));
  TPackageManifest manifest = SealedManifest("2.5.0.0");
  ASSERT_EQ(manifest.Entries.size(), 3u);
  for (const char* name : {"setup.xml", "readme.txt", "app.zip"}) {
    const TManifestEntry* entry = manifest.Find(name);
    ASSERT_NE(entry, nullptr) << name;
    const TFileDigest digest = BytesDigest(testing::ReadNative(PackageNative("2.5.0.0", name)));
    EXPECT_EQ(entry->Size, digest.Size) << name;
    EXPECT_EQ(entry->Sha256, digest.Sha256) << name;
  }
  EXPECT_FALSE(fs::exists(PackageNative("2.5.0.0", "broken.txt")));

  // The archive's recorded checksum is the archive's own, and its names are
  // relative to the zipped folder, the hidden file included.
  std::string archive = PackageFolder("2.5.0.0") + "app.zip";
  ASSERT_TRUE(FileCrc32(archive, crc));
  std::snprintf(hex, sizeof hex, "%08X", crc);
  EXPECT_EQ(GetXmlChildText(files[1].get(), "CRC32"), hex);
  EXPECT_EQ(GetXmlChildText(files[1].get(), "Size"), std::to_string(fs::file_size(PackageNative("2.5.0.0", "app.zip"))));
  ZipReader reader;
  reader.Open(archive);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < reader.Count(); ++i) {
    names.push_back(reader.Item(i).FName);
    EXPECT_TRUE(reader.Item(i).IsFolder() || reader.Item(i).IsEncrypted()) << reader.Item(i).FName;
  }
  EXPECT_NE(std::find(names.begin(), names.end(), "main.txt"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "sub/.hidden"), names.end());
}

TEST_F(PackageBuilderTest, FrameFailuresStopTheBuildBeforeAnyFolderIsTouched) {
  testing::WriteNative(FWork.Native("plain.txt"), "no version here");
  const std::string parse = "Ошибка разбора xml-документа с описанием версии.";
  std::string entry = Entry("readme.txt", FWork.File("readme.txt"), "File", "Copy");
  struct Case {
    std::string xml;
    std::string message;
  } cases[] = {
      {"", parse},
      {"<Installer><Number>", parse},
      {"<Setup/>", parse + " Нет описания версии."},
      {"<Installer><UpdateSource/><UpdateAction/><Number>1</Number><Install>" + entry + "</Install></Installer>",
       parse + " Нет описания получения исходной информации о версии."},
      {"<Installer><UpdateSource/><UpdateType/><UpdateAction/><Install>" + entry + "</Install></Installer>",
       parse + " Нет номера версии."},
      {"<Installer><UpdateSource/><UpdateType/><UpdateAction/><Number>1</Number><Install/></Installer>",
       parse + " Нет описания файлов."},
      {"<Installer><UpdateSource/><UpdateType/><UpdateAction/><Number>beta</Number><Install>" + entry +
           "</Install></Installer>",
       parse + " Нет номера версии."},
      {"<Installer><UpdateSource>" + FWork.File("absent.exe") +
           "</UpdateSource><UpdateType/><UpdateAction/><Number>1</Number><Install>" + entry + "</Install></Installer>",
       parse + " Нет исходного файла для получения версии."},
      {"<Installer><UpdateSource>" + FWork.File("plain.txt") +
           "</UpdateSource><UpdateType/><UpdateAction/><Number>1</Number><Install>" + entry + "</Install></Installer>",
       parse + " Нет версии в исходном файле для получения версии."},
  };
  for (const Case& c : cases) {
    WriteRaw(c.xml);
    FLog.clear();
    EXPECT_FALSE(Build()) << c.xml;
    ASSERT_EQ(FLog.size(), 3u) << c.xml;
    EXPECT_EQ(FLog[0], "4|[MakeInstall]: Создание установки.");
    EXPECT_EQ(FLog[1].rfind("1|[MakeUpdate] Ошибка: " + c.message, 0), 0u) << FLog[1];
    EXPECT_EQ(FLog[2], "1|[MakeUpdate]: Установка не создана.");
    EXPECT_FALSE(fs::exists(FWork.Native("output-installer"))) << c.xml;
  }
  fs::remove(FWork.Native("installer.xml"));
  FLog.clear();
  EXPECT_FALSE(Build());
  EXPECT_EQ(FLog.at(1).rfind("1|[MakeUpdate] Ошибка: " + parse, 0), 0u) << FLog.at(1);
}

TEST_F(PackageBuilderTest, ASecondBuildRecreatesTheVersionFolderAndLeavesOthersAlone) {
  fs::create_directories(PackageNative("1.0.0.0"));
  testing::WriteNative(PackageNative("1.0.0.0", "keep.txt"), "other version");
  WriteDescription(Entry("readme.txt", FWork.File("readme.txt"), "File", "Copy"));
  ASSERT_TRUE(Build());
  testing::WriteNative(PackageNative("2.5.0.0", "stale.txt"), "from an earlier build");
  ASSERT_TRUE(Build());
  EXPECT_FALSE(fs::exists(PackageNative("2.5.0.0", "stale.txt")));
  EXPECT_TRUE(fs::exists(PackageNative("2.5.0.0", "readme.txt")));
  EXPECT_EQ(testing::ReadNative(PackageNative("1.0.0.0", "keep.txt")), "other version");
}

TEST_F(PackageBuilderTest, EntryKindsActionsAndOutputNames) {
  testing::WriteNative(FWork.Native("empty.bin"), "");
  std::string entries =
      Entry("a.txt", FWork.File("readme.txt"), "file", "COPY") +                       // 1: case ignored
      Entry("b.txt", FWork.File("readme.txt"), "File", "CopyNoCRC") +                  // 2: 0 and 0
      Entry("c.txt", FWork.File("app"), "Folder", "Copy") +                            // 3: no such row
      Entry("", FWork.File("readme.txt"), "", "", "<UpdateDestination>d.txt</UpdateDestination>") +  // 4: no name
      Entry("", FWork.File("readme.txt"), "", "") +                                    // 5: no output name
      Entry("e.bin", FWork.File("empty.bin"), "", "") +                                // 6: empty file
      Entry("cmd", "", "Command", "None") +                                            // 7: no file
      Entry("missing\\f.txt", FWork.File("readme.txt"), "", "") +                      // 8: copy fails
      Entry("g.txt", FWork.File("absent.txt"), "", "");                                // 9: no source
  WriteDescription(entries);
  ASSERT_TRUE(Build());
  // Each warning starts with the fixed text and goes on to name the entry.
  auto has = [&](const std::string& line) {
    return std::any_of(FLog.begin(), FLog.end(), [&](const std::string& l) { return l.rfind(line, 0) == 0; });
  };
  EXPECT_TRUE(has("1|[MakeInstall] Предупреждение (3): Недопустимый тип или действие для исходного файла: " +
                  FWork.File("app") + ". Запись пропущена. [Запись \"c.txt\", Action UnZip, Folder/Copy"));
  // The installer refuses an entry without FileName: it is left out.
  EXPECT_TRUE(has("1|[MakeInstall] Предупреждение (4): Нет данных для файла."));
  EXPECT_TRUE(has("1|[MakeInstall] Предупреждение (5): Нет данных для файла."));
  // A package file name with a folder keeps it in the package.
  EXPECT_FALSE(has("1|[MakeInstall] Предупреждение (8)"));
  EXPECT_EQ(testing::ReadNative(PackageNative("2.5.0.0", "missing") / "f.txt"), "read me");
  EXPECT_TRUE(has("1|[MakeInstall] Предупреждение (9): Исходный файл не найден: " + FWork.File("absent.txt") + "."));
  EXPECT_TRUE(has("4|[File/CopyNoCRC]: Копирование файла: " + FWork.File("readme.txt")));
  EXPECT_TRUE(has("0|[MakeUpdate]: Установка создана. Предупреждений: 4. Пропущено записей: 4"));

  auto document = PackageDocument("2.5.0.0");
  auto files = document->DocumentElement()->SelectNodes("Install/File");
  ASSERT_EQ(files.size(), 5u);
  auto sizes = [&](std::size_t i) {
    return GetXmlChildText(files[i].get(), "Size") + "/" + GetXmlChildText(files[i].get(), "CRC32");
  };
  EXPECT_NE(sizes(0), "0/00000000");
  EXPECT_EQ(sizes(1), "0/00000000");
  EXPECT_EQ(sizes(2), "0/00000000");
  EXPECT_EQ(sizes(3), "0/00000000");
  EXPECT_EQ(GetXmlChildText(files[4].get(), "Size"), "7");
  for (const char* name : {"a.txt", "b.txt", "e.bin"}) EXPECT_TRUE(fs::exists(PackageNative("2.5.0.0", name)));
  EXPECT_FALSE(fs::exists(PackageNative("2.5.0.0", "d.txt")));
  EXPECT_FALSE(fs::exists(PackageNative("2.5.0.0", "cmd")));
}

TEST_F(PackageBuilderTest, EveryEntryFailingFailsTheBuildAndLeavesNoPackage) {
  // Such a package's setup.xml would read as an uninstall description.
  WriteDescription(Entry("a.txt", FWork.File("absent"), "", "") + Entry("b.txt", "", "", ""));
  EXPECT_FALSE(Build());
  EXPECT_EQ(FLog.at(FLog.size() - 2), "1|[MakeUpdate] Ошибка: Ни одна запись установки не собрана, пакет не создан.");
  EXPECT_EQ(FLog.back(), "1|[MakeUpdate]: Установка не создана.");
  EXPECT_FALSE(fs::exists(PackageNative("2.5.0.0", "setup.exe")));
  EXPECT_FALSE(fs::exists(PackageNative("2.5.0.0", "setup.xml")));
}

TEST_F(PackageBuilderTest, AnEngineThatCannotBeCopiedFailsTheBuild) {
  FBuilder.SetEngineFile(FWork.File("no-engine.exe"));
  WriteDescription(Entry("a.txt", FWork.File("readme.txt"), "", ""));
  EXPECT_FALSE(Build());
  ASSERT_EQ(FLog.size(), 4u);
  EXPECT_EQ(FLog[2], "1|[MakeUpdate] Ошибка: Не удалось скопировать исполняемый файл: " + FWork.File("no-engine.exe") + ".");
  EXPECT_EQ(FLog[3], "1|[MakeUpdate]: Установка не создана.");
}

TEST_F(PackageBuilderTest, ADescriptionInWindows1251IsReadAsSuch) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"windows-1251\"?><Installer><UpdateSource/><UpdateType/>"
                    "<UpdateAction/><Number>4</Number><Company>Ф</Company><Name>Программа</Name><ShortName>П</ShortName>"
                    "<InstallPath>C:\\П</InstallPath><Install>" +
                    Entry("a.txt", FWork.File("readme.txt"), "", "") + "</Install></Installer>";
  WriteTextFile(xml, FWork.File("installer.xml"), 1251);
  ASSERT_TRUE(Build());
  auto document = PackageDocument("4.0.0.0");
  EXPECT_EQ(GetXmlChildText(document->DocumentElement().get(), "Name"), "Программа");
}

TEST_F(PackageBuilderTest, TheSameSourcesInAnotherFolderAtAnotherTimeGiveTheSameBytes) {
  testing::ScopedEnv epoch("SOURCE_DATE_EPOCH", "1700000000");
  std::vector<std::string> packages;
  for (const char* copy : {"first", "second"}) {
    fs::create_directories(FWork.Native(copy) / "app" / "sub");
    for (const char* name : {"b.txt", "a.txt", "sub/c.txt"})
      testing::WriteNative(FWork.Native(copy) / "app" / name, std::string("content of ") + name);
    // The copies differ in time: only SOURCE_DATE_EPOCH may reach the archive.
    fs::last_write_time(FWork.Native(copy) / "app" / "a.txt",
                        fs::file_time_type::clock::now() - std::chrono::hours(copy[0] == 'f' ? 1 : 900));
    WriteDescription(Entry("app.zip", FWork.File(copy) + "\\app", "Folder", "Zip"));
    ASSERT_TRUE(Build());
    packages.push_back(testing::ReadNative(PackageNative("2.5.0.0", "app.zip")) +
                       testing::ReadNative(PackageNative("2.5.0.0", "setup.xml")));
  }
  EXPECT_EQ(packages[0], packages[1]);
}

}  // namespace
}  // namespace volok
