// The installation description: reading its XML, its failures, the option
// check and the uninstall description written back.
#include "model/install.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "common/crypt.h"
#include "common/error.h"
#include "common/text_file.h"
#include "common/xml_helpers.h"
#include "temp_folder.h"

namespace volok {
namespace {

constexpr char kHeader[] =
    "<Number>2.5</Number><Company>ООО «Ёлка»</Company><Name>Редактор</Name>"
    "<ShortName>Editor</ShortName><URL>https://example.org</URL><InstallPath>{ProgramFiles}\\Editor</InstallPath>";

std::string Description(const std::string& header, const std::string& body = "") {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Installer>" + header + body + "</Installer>";
}

std::string File(const std::string& name, const std::string& extra = "") {
  return "<File><Name>" + name + "</Name><FileName>" + name + ".zip</FileName><Action>UnZip</Action>"
         "<Destination>{InstallPath}</Destination>" + extra + "</File>";
}

std::string Nested(const std::string& tag, int depth) {
  std::string xml;
  for (int i = 0; i < depth; ++i) xml += "<" + tag + ">";
  for (int i = 0; i < depth; ++i) xml += "</" + tag + ">";
  return xml;
}

std::string ReadError(const std::string& xml) {
  TInstall install;
  try {
    install.ReadXml(xml);
  } catch (const Error& e) {
    return e.what();
  }
  return "(no error)";
}

std::string Names(const TInstall::TInstallFiles& files) {
  std::string names;
  for (const auto& file : files) names += (file ? file->Name() : "<null>") + ";";
  return names;
}

TEST(InstallTest, ReadsEveryPartOfADescription) {
  TInstall install;
  install.ReadXml(Description(
      std::string("<Company>\r\n  ООО «Ёлка»\t</Company><Company>second</Company>") + kHeader,
      "<Options><Default>full, docs</Default>"
      "<Group><Name>main</Name><DisplayName>Основное</DisplayName><Description>d</Description></Group>"
      "<Option><Name>docs</Name><Type>check</Type><Group>main</Group><DisplayName>Справка</DisplayName>"
      "<Values>a,b</Values><Description>Файлы справки</Description></Option></Options>"
      "<Install>" + File("one", "<Size>4096</Size><CRC32>1a2b</CRC32><Arch>x86-64</Arch>") + File("two") +
      "</Install><Ignored>" + File("not") + "</Ignored>"
      "<Install>" + File("three", "<Options>DOCS, \"the rest\"</Options>") + File("four") + "</Install>"
      "<UnInstall>" + File("remove") + "</UnInstall><Builder><Source>x</Source></Builder>"));

  EXPECT_EQ(VersionToStr(install.Version()), "2.5.0.0");
  EXPECT_EQ(install.Company(), "ООО «Ёлка»");
  EXPECT_EQ(install.Name(), "Редактор");
  EXPECT_EQ(install.ShortName(), "Editor");
  EXPECT_EQ(install.URL(), "https://example.org");
  EXPECT_EQ(install.InstallPath(), "{ProgramFiles}\\Editor");
  EXPECT_EQ(install.Options().Count(), 2);
  EXPECT_EQ(install.Options().IndexOf("DOCS"), 1);

  ASSERT_EQ(install.InstallGroups().size(), 1u);
  EXPECT_EQ(install.InstallGroups()[0]->DisplayName(), "Основное");
  ASSERT_EQ(install.InstallOptions().size(), 1u);
  const TInstallOption& option = *install.InstallOptions()[0];
  EXPECT_EQ(option.Type_() + "|" + option.Group() + "|" + option.Values() + "|" + option.Description(),
            "check|main|a,b|Файлы справки");

  EXPECT_EQ(Names(install.Install()), "one;two;three;four;");
  const TInstallFile& first = *install.Install()[0];
  EXPECT_EQ(first.FileName() + "|" + first.Action() + "|" + first.Destination() + "|" + first.Arch(),
            "one.zip|UnZip|{InstallPath}|x86-64");
  EXPECT_EQ(first.Size(), 4096u);
  EXPECT_EQ(first.CRC32(), 0x1A2Bu);
  const TStringList& options = install.Install()[2]->Options();
  ASSERT_EQ(options.Count(), 2);
  EXPECT_EQ(options[1], "the rest");
  EXPECT_EQ(Names(install.UnInstall()), "remove;");
}

TEST(InstallTest, NumberFallsBackToOneWhenNoPartParses) {
  struct Case {
    const char* number;
    const char* version;
  } cases[] = {
      {"", "1.0.0.0"},          {"<Number/>", "1.0.0.0"},       {"<Number>beta</Number>", "1.0.0.0"},
      {"<Number>3</Number>", "3.0.0.0"}, {"<Number>3.1.x</Number>", "3.1.0.0"},
      {"<Number> 1.2.3.4.5 </Number>", "1.2.3.4"}, {"<Number>-1.0</Number>", "-1.0.0.0"},
  };
  for (const Case& c : cases) {
    TInstall install;
    install.ReadXml(Description(c.number + std::string(kHeader).substr(std::string(kHeader).find("<Company>"))));
    EXPECT_EQ(VersionToStr(install.Version()), c.version) << c.number;
  }
}

TEST(InstallTest, SizeAndChecksumTextsThatAreNoNumbersReadAsZero) {
  struct Case {
    const char* size;
    const char* crc;
    std::uint32_t size_value;
    std::uint32_t crc_value;
  } cases[] = {
      {"4096", "1a2b", 4096, 0x1A2B},
      {"3000000000", "FFFFFFFF", 3000000000u, 0xFFFFFFFFu},
      {"4294967296", "0x1A2B", 0, 0},
      {"-1", "$1A2B", 0, 0},
      {"12kb", "123456789", 0, 0},
      {"", "0000001a2b", 0, 0x1A2B},
      {" 7 ", "zz", 7, 0},
  };
  for (const Case& c : cases) {
    TInstall install;
    install.ReadXml(Description(kHeader, "<Install>" +
                                             File("f", std::string("<Size>") + c.size + "</Size><CRC32>" + c.crc +
                                                           "</CRC32>") +
                                             "</Install>"));
    EXPECT_EQ(install.Install()[0]->Size(), c.size_value) << c.size;
    EXPECT_EQ(install.Install()[0]->CRC32(), c.crc_value) << c.crc;
  }
}

TEST(InstallTest, EachMissingValueIsReportedWithTheReaderPrefix) {
  const std::string prefix = "[ReadXML] Ошибка: ";
  std::string header = kHeader;
  auto without = [&](const std::string& tag) {
    size_t from = header.find("<" + tag + ">");
    size_t to = header.find("</" + tag + ">") + tag.size() + 3;
    return header.substr(0, from) + header.substr(to);
  };
  struct Case {
    std::string xml;
    const char* message;
  } cases[] = {
      {"", "Не удалось загрузить xml-документ."},
      {"<Installer><Name>x</Installer>", "Не удалось загрузить xml-документ."},
      {"<Installer>R&D</Installer>", "Не удалось загрузить xml-документ."},
      // A reference beyond U+10FFFF (found by fuzzing: it read back as other text).
      {Description(without("Name") + "<Name>a&#12" + std::string(190, '4') + ";b</Name>"),
       "Не удалось загрузить xml-документ."},
      {"<Installer xmlns=\"urn:volok\">" + header + "</Installer>", "Не удалось загрузить xml-документ."},
      {Description(header, Nested("Options", 300)), "Не удалось загрузить xml-документ."},
      {"<installer>" + header + "</installer>", "Нет описания установки."},
      {"<Setup>" + header + "</Setup>", "Нет описания установки."},
      {Description(without("Company")), "Нет наименования компании."},
      {Description("<Company> </Company><Name/><ShortName>s</ShortName><InstallPath>p</InstallPath>"),
       "Нет наименования компании."},
      {Description(without("Name")), "Нет наименования программы."},
      {Description(without("Name") + "<Name>\r\n \t</Name>"), "Нет наименования программы."},
      {Description(without("Name") + "<Options><Name>x</Name></Options>"), "Нет наименования программы."},
      {Description(without("ShortName")), "Нет сокращенного наименования программы."},
      {Description(without("InstallPath")), "Нет папки установки."},
      {Description(header, "<Options><Group><Name>g</Name></Group></Options>"), "Нет данных для группы."},
      {Description(header, "<Options><Option><Name>o</Name><DisplayName>O</DisplayName></Option></Options>"),
       "Нет данных для группы."},
      {Description(header, "<Install><File><Name>n</Name><FileName>f</FileName><Action>Copy</Action></File>"
                           "</Install>"),
       "Нет данных для файла."},
      {Description(header, "<UnInstall><File><FileName>f</FileName><Action>a</Action>"
                           "<Destination>d</Destination></File></UnInstall>"),
       "Нет данных для файла."},
  };
  // The fixed text first; what follows says where (entries, XML position).
  for (const Case& c : cases) EXPECT_EQ(ReadError(c.xml).rfind(prefix + c.message, 0), 0u) << ReadError(c.xml);
}

TEST(InstallTest, AnUnloadableDocumentSaysLineColumnAndWhy) {
  std::string error = ReadError("<Installer>\n  <Name>Tom & Jerry</Name>\n</Installer>");
  EXPECT_NE(error.find("Не удалось загрузить xml-документ. строка 2, столбец "), std::string::npos) << error;
  EXPECT_NE(error.find("\"&\""), std::string::npos) << error;
  error = ReadError("<Installer>\n<Name>x</Nmae>\n</Installer>");
  EXPECT_NE(error.find("строка 2"), std::string::npos) << error;
}

TEST(InstallTest, ShortNameMustBeOneRegistryKeyName) {
  // The short name names the program's key under the Uninstall key: one
  // that leads elsewhere would let the uninstall delete other programs'
  // registrations.
  std::string header = kHeader;
  auto with_short_name = [&](const std::string& name) {
    std::string changed = header;
    changed.replace(changed.find("Editor</ShortName>"), 6, name);
    return Description(changed);
  };
  for (const std::string name : {"\\", "a\\b", "..\\x", ".", ".."})
    EXPECT_EQ(ReadError(with_short_name(name)),
              "[ReadXML] Ошибка: Недопустимое сокращенное наименование программы: " + name + ".");
  for (const std::string name : {"a.b", "...", "Мой редактор", "a/b"})
    EXPECT_EQ(ReadError(with_short_name(name)), "(no error)") << name;
}

TEST(InstallTest, ReadingErrorKeepsWhatWasReadBeforeIt) {
  TInstall install;
  EXPECT_THROW(install.ReadXml(Description(
                   kHeader, "<Options><Group><Name>g</Name><DisplayName>G</DisplayName></Group></Options>"
                            "<Install>" + File("a") + File("b") +
                                "<File><Name>broken</Name><FileName>f</FileName></File>" + File("d") +
                                "</Install><UnInstall>" + File("u") + "</UnInstall>")),
               Error);
  EXPECT_EQ(install.ShortName(), "Editor");
  EXPECT_EQ(install.InstallGroups().size(), 1u);
  EXPECT_EQ(Names(install.Install()), "a;b;broken;<null>;");
  EXPECT_EQ(install.Install()[2]->FileName(), "f");
  EXPECT_TRUE(install.UnInstall().empty());
}

TEST(InstallTest, EntriesRunForTheirOptionsOrAlways) {
  TInstall install;
  install.ReadXml(Description(kHeader, "<Options><Default>full, docs</Default></Options><Install>" +
                                           File("always") + File("docs", "<Options>DOCS</Options>") +
                                           File("other", "<Options>extra, more</Options>") +
                                           File("either", "<Options>extra Full</Options>") + "</Install>"));
  std::string passed;
  for (const auto& entry : install.Install())
    if (entry->Check(install.Options())) passed += entry->Name() + ";";
  EXPECT_EQ(passed, "always;docs;either;");

  TStringList none(false);
  EXPECT_TRUE(install.Install()[0]->Check(none));
  EXPECT_FALSE(install.Install()[1]->Check(none));
  // The lookup is the list's own: a case-sensitive list does not fold.
  TStringList exact;
  exact.SetDelimitedText("docs");
  EXPECT_FALSE(install.Install()[1]->Check(exact));
}

class UnInstallXmlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FInstall.ReadXml(Description(
        "<Number>-1.0</Number><Company>ООО «Ёлка» &amp; Co</Company><Name>Редактор</Name>"
        "<ShortName>Editor</ShortName><URL> </URL><InstallPath>C:\\Program Files\\Ёлка</InstallPath>",
        "<Options><Default>full</Default><Option><Name>full</Name><Type>check</Type>"
        "<DisplayName>F</DisplayName></Option></Options>"
        "<Install>" + File("install") + "</Install><UnInstall>" +
            File("kept", "<Size>3000000000</Size><CRC32>1a2b</CRC32><Options>FULL</Options><Arch>x86</Arch>") +
            File("dropped", "<Options>docs</Options>") + File("plain") + "</UnInstall>"));
  }

  // The saved file, decrypted, read back as a description.
  void ReadBack(const std::string& path, TInstall& copy) {
    std::string xml = DecryptText(ReadTextFile(path));
    copy.ReadXml(xml);
    FXml = xml;
  }

  TInstall FInstall;
  std::string FXml;
  volok::testing::TempFolder FFolder;
};

TEST_F(UnInstallXmlTest, SavedDescriptionReadsBackWithTheChosenEntriesOnly) {
  std::string path = FFolder.File("uninstall.xml");
  FInstall.SaveUnInstallXml(path);

  std::string stored = volok::testing::ReadNative(FFolder.Native("uninstall.xml"));
  EXPECT_EQ(stored.find_first_not_of("0123456789ABCDEF"), std::string::npos);

  TInstall copy;
  ReadBack(path, copy);
  EXPECT_EQ(VersionToStr(copy.Version()), "-1.0.0.0");
  EXPECT_EQ(copy.Company(), "ООО «Ёлка» & Co");
  EXPECT_EQ(copy.InstallPath(), "C:\\Program Files\\Ёлка");
  EXPECT_EQ(copy.URL(), "");
  EXPECT_TRUE(copy.Install().empty());
  EXPECT_TRUE(copy.InstallGroups().empty());
  EXPECT_TRUE(copy.InstallOptions().empty());
  EXPECT_EQ(copy.Options().Count(), 0);
  EXPECT_EQ(Names(copy.UnInstall()), "kept;plain;");
  const TInstallFile& kept = *copy.UnInstall()[0];
  EXPECT_EQ(kept.Size(), 3000000000u);
  EXPECT_EQ(kept.CRC32(), 0x1A2Bu);
  EXPECT_EQ(kept.Options().Count(), 0);
  EXPECT_EQ(kept.Arch(), "");
}

TEST_F(UnInstallXmlTest, EveryValueIsAnElementAndChecksumsHaveEightDigits) {
  std::string path = FFolder.File("uninstall.xml");
  FInstall.SaveUnInstallXml(path);
  TInstall copy;
  ReadBack(path, copy);

  std::unique_ptr<platform::XmlDocument> document;
  ASSERT_TRUE(platform::XmlParser::Default().CreateDocument(document).ok());
  ASSERT_TRUE(document->LoadXml(FXml));
  auto root = document->DocumentElement();
  ASSERT_NE(root->SelectSingleNode("URL"), nullptr);
  EXPECT_EQ(GetXmlChildText(root.get(), "Number"), "-1.0.0.0");
  EXPECT_EQ(GetXmlChildText(root.get(), "UnInstall/File/CRC32"), "00001A2B");
  EXPECT_EQ(GetXmlChildText(root.get(), "UnInstall/File/Size"), "3000000000");
  auto files = root->SelectNodes("UnInstall/File");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(GetXmlChildText(files[1].get(), "CRC32"), "00000000");
  EXPECT_EQ(root->SelectSingleNode("UnInstall/File/Options"), nullptr);
  EXPECT_EQ(root->SelectSingleNode("UnInstall/File/Arch"), nullptr);
}

TEST_F(UnInstallXmlTest, SavesFromAWorkerThread) {
  std::string path = FFolder.File("from worker.xml");
  std::string failure;
  std::thread worker([&] {
    try {
      FInstall.SaveUnInstallXml(path);
    } catch (const Error& e) {
      failure = e.what();
    }
  });
  worker.join();
  ASSERT_EQ(failure, "");
  TInstall copy;
  ReadBack(path, copy);
  EXPECT_EQ(copy.ShortName(), "Editor");
}

TEST_F(UnInstallXmlTest, FileSystemFailureIsReportedWithTheWriterPrefix) {
  try {
    FInstall.SaveUnInstallXml(FFolder.File("missing\\folder\\uninstall.xml"));
    FAIL() << "no error";
  } catch (const Error& e) {
    std::string message = e.what();
    const std::string prefix = "[SaveUnInstallXml] Ошибка: ";
    EXPECT_EQ(message.substr(0, prefix.size()), prefix);
    EXPECT_GT(message.size(), prefix.size());
  }
}

// A DOM that cannot be created, or whose documents never load.
class BrokenParser final : public platform::XmlParser {
 public:
  explicit BrokenParser(bool can_create) : FCanCreate(can_create) {}
  platform::Status CreateDocument(std::unique_ptr<platform::XmlDocument>& document) override {
    if (!FCanCreate) return platform::Status::Failure("Класс не зарегистрирован");
    document = std::make_unique<EmptyDocument>();
    return platform::Status::Ok();
  }

 private:
  class EmptyDocument final : public platform::XmlDocument {
   public:
    bool LoadXml(const std::string&) override { return false; }
    bool Load(const std::string&) override { return false; }
    std::string LoadError() const override { return "unexpected"; }
    std::unique_ptr<platform::XmlNode> DocumentElement() override { return nullptr; }
    platform::Status CreateElement(const std::string&, std::unique_ptr<platform::XmlNode>&) override {
      return platform::Status::Failure("unexpected");
    }
    std::string Xml() override { return {}; }
  };
  bool FCanCreate;
};

TEST_F(UnInstallXmlTest, DomFailuresAreReportedWithTheirPrefixes) {
  std::string path = FFolder.File("uninstall.xml");
  auto message = [&](auto&& call) -> std::string {
    try {
      call();
    } catch (const Error& e) {
      return e.what();
    }
    return "(no error)";
  };
  BrokenParser no_dom(false);
  {
    platform::ScopedDefault<platform::XmlParser> scope(no_dom);
    EXPECT_EQ(message([&] { TInstall().ReadXml(Description(kHeader)); }),
              "[ReadXML] Ошибка: Класс не зарегистрирован");
    EXPECT_EQ(message([&] { FInstall.SaveUnInstallXml(path); }),
              "[SaveUnInstallXml] Ошибка: Класс не зарегистрирован");
  }
  BrokenParser no_load(true);
  {
    platform::ScopedDefault<platform::XmlParser> scope(no_load);
    EXPECT_EQ(message([&] { FInstall.SaveUnInstallXml(path); }),
              "[SaveUnInstallXml] Ошибка: Не удалось создать xml-документ.");
  }
  EXPECT_FALSE(std::filesystem::exists(FFolder.Native("uninstall.xml")));
}

}  // namespace
}  // namespace volok
