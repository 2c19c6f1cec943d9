// The builder's checks of what it does not build: the UnInstall list, the
// placeholders in text payloads, and the line every entry warning names.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "builder/entry_lines.h"
#include "builder_fixture.h"

namespace volok {
namespace {

namespace fs = std::filesystem;

class EntryChecksTest : public BuilderTest {
 protected:
  void SetUp() override {
    BuilderTest::SetUp();
    testing::WriteNative(FWork.Native("readme.txt"), "read me");
  }
  std::vector<std::string> Warnings() const {
    std::vector<std::string> lines;
    for (const std::string& line : FLog)
      if (line.rfind("1|[MakeInstall] Предупреждение", 0) == 0) lines.push_back(line.substr(2));
    return lines;
  }
  static std::string UnEntry(const std::string& name, const std::string& file_name, const std::string& action,
                             const std::string& destination) {
    return "\n<File><Name>" + name + "</Name><FileName>" + file_name + "</FileName><Action>" + action +
           "</Action><Destination>" + destination + "</Destination></File>";
  }
};

TEST_F(EntryChecksTest, TheUnInstallListIsCheckedAndItsUnreadableEntriesLeftOut) {
  const std::string tail = "\n<UnInstall>" + UnEntry("ok", "{InstallPath}\\a", "DeleteFile", "-") +
                           UnEntry("typo", "{InstallPath}", "DeleteFoler", "-") +
                           UnEntry("var", "{InstallPath}\\{NoSuchVar}", "DeleteFile", "{installpath}") +
                           "\n<File><Name>broken</Name><FileName>x</FileName><Action>DeleteFile</Action></File>" +
                           UnEntry("empty", "x", "DeleteFile", " ") + "\n</UnInstall>";
  WriteDescription(Entry("a.txt", FWork.File("readme.txt"), "", ""), "", "2.5", tail);
  ASSERT_TRUE(Build());
  const std::vector<std::string> expected = {
      "[MakeInstall] Предупреждение (UnInstall, 2): Неизвестное действие \"DeleteFoler\": программа удаления "
      "пропустит эту запись. [Запись \"typo\", Action DeleteFoler, FileName {InstallPath}, строка 4]",
      "[MakeInstall] Предупреждение (UnInstall, 3): Неизвестная переменная {NoSuchVar} в FileName: она останется "
      "текстом. [Запись \"var\", Action DeleteFile, FileName {InstallPath}\\{NoSuchVar}, строка 5]",
      "[MakeInstall] Предупреждение (UnInstall, 4): Нет данных для файла. Нет элементов: Destination. Запись "
      "пропущена. [Запись \"broken\", Action DeleteFile, FileName x, строка 6]",
      "[MakeInstall] Предупреждение (UnInstall, 5): Нет данных для файла. Пусты элементы: Destination. Запись "
      "пропущена. [Запись \"empty\", Action DeleteFile, FileName x, строка 7]",
  };
  EXPECT_EQ(Warnings(), expected);
  EXPECT_EQ(FBuilder.Warnings(), 4);
  EXPECT_EQ(FBuilder.DroppedEntries(), 2);
  // The package's description keeps what the uninstaller can read.
  auto document = PackageDocument("2.5.0.0");  // the nodes below live in it
  auto entries = document->DocumentElement()->SelectNodes("UnInstall/File/Name");
  std::vector<std::string> names;
  for (const auto& node : entries) names.push_back(node->Text());
  EXPECT_EQ(names, (std::vector<std::string>{"ok", "typo", "var"}));
  ASSERT_EQ(FBuilder.WarningList().size(), 4u);
  const TBuildWarning& first = FBuilder.WarningList()[0];
  EXPECT_EQ(first.List, "UnInstall");
  EXPECT_EQ(first.Position, 2u);
  EXPECT_EQ(first.Name, "typo");
  EXPECT_EQ(first.Action, "DeleteFoler");
  EXPECT_EQ(first.Line, 4);  // line 2 opens the list, 3 holds "ok"
  EXPECT_FALSE(first.Dropped);
  EXPECT_TRUE(FBuilder.WarningList()[2].Dropped);
}

TEST_F(EntryChecksTest, AnInstallEntryNamesTheElementsItLacksOrLeavesEmpty) {
  const std::string empty_name = "\n<File><UpdateSource>" + FWork.File("readme.txt") +
                                 "</UpdateSource><UpdateType/><UpdateAction/><Name> </Name><FileName>b.txt</FileName>"
                                 "<Action>Copy</Action><Destination>d</Destination><Size/><CRC32/></File>";
  WriteDescription(Entry("a.txt", FWork.File("readme.txt"), "", "") + empty_name);
  ASSERT_TRUE(Build());
  EXPECT_EQ(Warnings(), std::vector<std::string>{
                            "[MakeInstall] Предупреждение (2): Нет данных для файла. Пусты элементы: Name. Запись "
                            "пропущена. [Запись \"\", Action Copy, /, FileName b.txt, строка 2]"});
}

TEST_F(EntryChecksTest, UnknownPlaceholdersInTextPayloadsAreWarnedAbout) {
  testing::WriteNative(FWork.Native("config.ini"),
                       "path={InstallPath}\nname={ShortName}\nbad={NoSuch}\nagain={NoSuch}\ncase={installpath}\n"
                       "json={\"key\": 1}\nchoice={Lang}\n");
  const std::string text_entry = "<File><UpdateSource>" + FWork.File("config.ini") +
                                 "</UpdateSource><UpdateType/><UpdateAction/><Name>cfg</Name><FileName>config.ini"
                                 "</FileName><Action>CopyText</Action><Destination>{InstallPath}</Destination><Size/>"
                                 "<CRC32/></File>";
  const std::string plain_entry = "<File><UpdateSource>" + FWork.File("config.ini") +
                                  "</UpdateSource><UpdateType/><UpdateAction/><Name>raw</Name><FileName>raw.ini"
                                  "</FileName><Action>Copy</Action><Destination>{InstallPath}</Destination><Size/>"
                                  "<CRC32/></File>";
  const std::string options = "<Options><Group><Name>g</Name><DisplayName>c</DisplayName></Group><Option><Name>"
                              "Lang</Name><Type>ComboBox</Type><Group>g</Group><DisplayName>l</DisplayName></Option>"
                              "</Options>";
  WriteRaw("<Installer><UpdateSource/><UpdateType/><UpdateAction/><Number>1</Number>" + Header() + options +
           "<Install>" + text_entry + plain_entry + "</Install></Installer>");
  ASSERT_TRUE(Build()) << ::testing::PrintToString(FLog);
  // Exact names in texts: {installpath} is not replaced there; JSON braces
  // are no placeholder; each unknown name once; the plain copy is not read.
  EXPECT_EQ(Warnings(), (std::vector<std::string>{
                            "[MakeInstall] Предупреждение (1): Неизвестная переменная {NoSuch} в файле config.ini: она "
                            "останется текстом (в текстах имена пишутся точно). [Запись \"cfg\", Action CopyText, /, "
                            "FileName config.ini, строка 1]",
                            "[MakeInstall] Предупреждение (1): Неизвестная переменная {installpath} в файле config.ini: "
                            "она останется текстом (в текстах имена пишутся точно). [Запись \"cfg\", Action CopyText, /, "
                            "FileName config.ini, строка 1]"}))
      << ::testing::PrintToString(FLog);
}

TEST(EntryLinesTest, FindsTheEntriesOfOneListPastCommentsCdataAndQuotedBrackets) {
  const std::string text =
      "<?xml version=\"1.0\"?>\n"
      "<!-- <Install><File> in a comment -->\n"
      "<Installer a=\"x>y\">\n"
      "  <Install>\n"
      "    <File><Name><![CDATA[<File>]]></Name></File>\n"
      "    <File/>\n"
      "    <Other><File/></Other>\n"
      "    <File b='<'\n"
      "      >text</File>\n"
      "  </Install>\n"
      "  <UnInstall><File/></UnInstall>\n"
      "  <Install><File/></Install>\n"
      "</Installer>\n";
  EXPECT_EQ(EntryLines(text, "Install"), (std::vector<int>{5, 6, 8, 12}));
  EXPECT_EQ(EntryLines(text, "UnInstall"), (std::vector<int>{11}));
  EXPECT_TRUE(EntryLines("\xFF\xFE<\0I\0", "Install").empty());
  EXPECT_TRUE(EntryLines("<Installer><Install><File", "Install").empty());  // cut off: no line is sure
}

}  // namespace
}  // namespace volok
