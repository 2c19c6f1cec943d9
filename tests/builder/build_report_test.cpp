// The report's pieces that every platform computes itself: the SHA-256 of
// the platform's provider, JSON strings, the report's layout.
#include <gtest/gtest.h>

#include "builder/build_report.h"
#include "builder/winget_manifest.h"
#include "common/error.h"
#include "temp_folder.h"

namespace volok {
namespace {

TEST(BuildReportTest, FileHashesAreThePublishedSha256Values) {
  testing::TempFolder folder;
  testing::WriteNative(folder.Native("empty"), "");
  testing::WriteNative(folder.Native("abc"), "abc");
  // Larger than one read, so the blocks are chained.
  testing::WriteNative(folder.Native("million"), std::string(1000000, 'a'));
  EXPECT_EQ(FileSha256(folder.File("empty")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(FileSha256(folder.File("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(FileSha256(folder.File("million")), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_THROW(FileSha256(folder.File("missing")), Error);
}

TEST(BuildReportTest, TheReportIsValidJsonWithEveryTextEscaped) {
  EXPECT_EQ(JsonString("a\"b\\c\x01\n Ж"), "\"a\\\"b\\\\c\\u0001\\u000a Ж\"");
  EXPECT_EQ(JsonString("bad \xFF byte"), "\"bad \\ufffd byte\"");
  // What YAML would refuse or break a line at is escaped too.
  EXPECT_EQ(JsonString("c1 \xC2\x86 ls \xE2\x80\xA8 bom \xEF\xBB\xBF ok \xE2\x82\xAC"),
            "\"c1 \\u0086 ls \\u2028 bom \\ufeff ok \xE2\x82\xAC\"");
  TBuildReport report;
  report.Status = "created";
  report.Version = "1.0.0.0";
  report.PackageFolder = "output-installer\\1.0.0.0\\";
  report.Warnings = 1;
  TBuildWarning warning;
  warning.List = "UnInstall";
  warning.Position = 2;
  warning.Name = "u";
  warning.Action = "DeleteFoler";
  warning.Line = 7;
  warning.Text = "t";
  report.WarningList.push_back(warning);
  report.Files.push_back({"sub\\a.txt", 3, std::string(64, 'f')});
  // No single file (a failed build): null; the single file: its fields.
  EXPECT_NE(BuildReportJson(report).find("\n  \"installer\": null,\n  \"files\""), std::string::npos);
  report.Installer = {"Demo \"1\"-setup.exe", 7, std::string(64, 'e')};
  EXPECT_EQ(BuildReportJson(report),
            "{\n  \"status\": \"created\",\n  \"exitCode\": 0,\n  \"version\": \"1.0.0.0\",\n"
            "  \"packageFolder\": \"output-installer\\\\1.0.0.0\\\\\",\n  \"error\": null,\n  \"warningCount\": 1,\n"
            "  \"droppedEntries\": 0,\n  \"warnings\": [\n    {\"entry\": {\"list\": \"UnInstall\", \"position\": 2, "
            "\"name\": \"u\", \"action\": \"DeleteFoler\", \"line\": 7}, \"text\": \"t\", \"dropped\": false}\n  ],\n"
            "  \"installer\": {\"name\": \"Demo \\\"1\\\"-setup.exe\", \"size\": 7, \"sha256\": \"" +
                std::string(64, 'e') +
                "\"},\n"
            "  \"files\": [\n    {\"name\": \"sub\\\\a.txt\", \"size\": 3, \"sha256\": \"" +
                std::string(64, 'f') + "\"}\n  ]\n}\n");
}

TEST(WingetManifestTest, IdentifiersAreWhatWingetAccepts) {
  EXPECT_EQ(WingetIdentifier("Volok Software Ltd.", "Demo"), "VolokSoftwareLtd.Demo");
  EXPECT_EQ(WingetIdentifier("ООО \"Фирма\"", "Учёт/2"), "ОООФирма.Учёт2");
  EXPECT_EQ(WingetIdentifier("...", "Demo"), "");
  EXPECT_EQ(WingetIdentifier(std::string(40, 'x'), "d"), std::string(32, 'x') + ".d");
  EXPECT_TRUE(IsWingetIdentifier("A.B"));
  EXPECT_TRUE(IsWingetIdentifier("Фирма.Учёт.Про"));
  for (const char* bad : {"Single", "A..B", ".A", "A.", "A B.C", "A.B:C", "A.B.C.D.E.F.G.H.I"})
    EXPECT_FALSE(IsWingetIdentifier(bad)) << bad;
  EXPECT_FALSE(IsWingetIdentifier(std::string(33, 'x') + ".d"));
}

TEST(WingetManifestTest, MadeUpValuesAreWarnedAboutAndBadOnesReplaced) {
  TWingetInput input;
  input.ShortName = "Demo";
  input.Name = "D";
  input.Version = "1.0.0.0";
  input.Architecture = "x86";
  input.InstallerSha256 = std::string(64, '0');
  input.Fields.PackageIdentifier = "no identifier";
  input.Fields.PackageLocale = "русский";
  input.InstallerUrl = "ftp://x/setup.exe";
  TWingetManifests made = MakeWingetManifests(input);
  // No company: the short name serves as the publisher part.
  EXPECT_EQ(made.Identifier, "Demo.Demo");
  EXPECT_EQ(made.Warnings.size(), 5u);
  ASSERT_EQ(made.Files.size(), 3u);
  EXPECT_EQ(made.Files[2].first, "Demo.Demo.locale.ru-RU.yaml");
  // Too short for winget's PackageName: the short name stands in.
  EXPECT_NE(made.Files[2].second.find("PackageName: \"Demo\"\n"), std::string::npos) << made.Files[2].second;
  EXPECT_NE(made.Files[1].second.find("InstallerUrl: \"https://example.invalid/Demo.Demo/1.0.0.0/setup.exe\""),
            std::string::npos);
  EXPECT_NE(made.Files[1].second.find("- Architecture: x86\n"), std::string::npos);
}

}  // namespace
}  // namespace volok
