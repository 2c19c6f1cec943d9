// The variable table: lookups ignore case, placeholders do not, and the
// replacement order and restart rule hold, cycles included.
#include "model/variables.h"

#include <gtest/gtest.h>

#include <random>

#include "placeholder_oracle.h"

#include "model/install_file.h"
#include "platform/shell.h"

namespace volok {
namespace {

TVariables Table(std::initializer_list<std::pair<const char*, const char*>> rows) {
  TVariables vars;
  for (const auto& [name, value] : rows) vars.Add(name, value);
  return vars;
}

TEST(VariablesTest, FindAndAddIgnoreCaseButKeepFirstSpelling) {
  TVariables vars = Table({{"ProgramFiles", "C:\\Program Files"}, {"ShortName", "Demo"}});
  EXPECT_EQ(vars.Find("programfiles"), 0);
  EXPECT_EQ(vars.Find("SHORTNAME"), 1);
  EXPECT_EQ(vars.Find("Missing"), -1);
  vars.Add("SHORTNAME", "New");
  EXPECT_EQ(vars.Variables().size(), 2u);
  EXPECT_EQ(vars.Variables()[1].Name, "ShortName");
  EXPECT_EQ(vars.ProcessF("{ShortName}|{SHORTNAME}"), "New|{SHORTNAME}");
  vars.Add("Папка", "x");
  EXPECT_EQ(vars.Find("ПАПКА"), 2);
}

struct Case {
  const char* text;
  const char* expected;
};

TEST(VariablesTest, PlaceholderRules) {
  TVariables vars = Table({{"ProgramFiles", "C:\\Program Files"},
                           {"Company", "{ShortName} Ltd"},
                           {"ShortName", "Demo"},
                           {"InstallPath", "{Company}\\x"},
                           {"AdminTools", ""},
                           {"X", "Name"}});
  const Case cases[] = {
      {"{ProgramFiles}\\{ShortName}", "C:\\Program Files\\Demo"},
      {"{ProgramFiles}{ProgramFiles}", "C:\\Program FilesC:\\Program Files"},
      {"{programfiles} {Foo}", "{programfiles} {Foo}"},
      {"{Company}", "Demo Ltd"},            // later variable expands inside
      {"{InstallPath}", "{Company}\\x"},    // earlier one does not
      {"{AdminTools}\\Tools", "\\Tools"},
      {"{ShortName", "{ShortName"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(vars.ProcessF(c.text), c.expected) << c.text;
}

TEST(VariablesTest, RestartFormsNewPlaceholdersButNeverLoops) {
  EXPECT_EQ(Table({{"Name", "X"}}).ProcessF("{{Name}}"), "{X}");
  EXPECT_EQ(Table({{"Name", "Name"}}).ProcessF("{{Name}}"), "Name");
  // Values that hold or re-form their own placeholder end.
  EXPECT_EQ(Table({{"Name", "{Name}"}}).ProcessF("a{Name}b"), "a{Name}b");
  EXPECT_EQ(Table({{"Name", "x{Name}"}}).ProcessF("{Name}{Name}"), "x{Name}x{Name}");
  EXPECT_EQ(Table({{"Name", "{Name"}}).ProcessF("{Name}}"), "{Name");
  EXPECT_EQ(Table({{"Name", "{{Name}"}}).ProcessF("{Name}}"), "{{Name}}");
  EXPECT_EQ(Table({{"Name", "{Name"}}).ProcessF("{{Name}}}"), "{{Name");
  EXPECT_EQ(Table({{"Name", "Name}{"}}).ProcessF("{{Name}}"), "Name}{{}");
}

// Texts and values made of braces, the names' letters and whole tokens make
// the overlapping, re-forming and self-holding cases common; the streaming
// replacement must give what the straightforward one gives for each.
TEST(VariablesTest, SameResultsAsTheStraightforwardReplacement) {
  std::mt19937 random(20240518);
  auto draw = [&random](std::size_t pieces) {
    static const char* const kPieces[] = {"{", "}", "Na", "A", "{Na}", "{A}", "}{", "{}", "x"};
    std::string text;
    for (std::size_t n = random() % (pieces + 1); n > 0; --n) text += kPieces[random() % std::size(kPieces)];
    return text;
  };
  for (int round = 0; round < 20000; ++round) {
    TVariables vars = Table({{"Na", ""}, {"A", ""}});
    vars.Add("Na", draw(4));
    vars.Add("A", draw(4));
    // Names with braces make tokens that overlap themselves ("{}{}").
    vars.Add(round % 2 ? "}{" : draw(2), draw(4));
    std::string text = draw(20);
    if (round % 4 == 0) text = "{Na}" + text + "{A}{Na}";
    ASSERT_EQ(vars.ProcessF(text), testing::OracleProcess(vars, text))
        << "text " << text << ", Na = " << vars.Variables()[0].Value << ", A = " << vars.Variables()[1].Value
        << ", " << vars.Variables().back().Name << " = " << vars.Variables().back().Value;
  }
}

TEST(VariablesTest, EntryReplacementTouchesOnlyFileNameAndDestination) {
  TVariables vars = Table({{"InstallPath", "C:\\App"}});
  TInstallFile file;
  file.SetName("{InstallPath}");
  file.SetFileName("{InstallPath}\\a.txt");
  file.SetDestination("{InstallPath}\\b");
  file.SetAction("{InstallPath}");
  vars.Process(file);
  EXPECT_EQ(file.FileName(), "C:\\App\\a.txt");
  EXPECT_EQ(file.Destination(), "C:\\App\\b");
  EXPECT_EQ(file.Name(), "{InstallPath}");
  EXPECT_EQ(file.Action(), "{InstallPath}");
}

class NoAdminTools final : public platform::Shell {
 public:
  std::string SpecialFolder(platform::SpecialFolderId id) override {
    if (id == platform::SpecialFolderId::AdminTools) return "";
    return "F" + std::to_string(static_cast<int>(id));
  }
  platform::Status CreateShellLink(const std::string&, const std::string&, const std::string&, const std::string&,
                                   bool& saved) override {
    saved = false;
    return platform::Status::Ok();
  }
};

TEST(VariablesTest, SystemPathsInSubstitutionOrder) {
  NoAdminTools shell;
  platform::ScopedDefault<platform::Shell> scope(shell);
  TVariables vars;
  vars.ReadSystemPaths();
  ASSERT_EQ(vars.Variables().size(), 32u);
  EXPECT_EQ(vars.Variables()[0].Name, "Programs");
  EXPECT_EQ(vars.Variables()[0].Value, "F2");
  EXPECT_EQ(vars.Variables()[21].Name, "CommonAppData");
  EXPECT_EQ(vars.Variables()[22].Name, "LocalAppData");
  EXPECT_EQ(vars.Variables()[22].Value, "F28");
  EXPECT_EQ(vars.Variables()[30].Name, "AdminTools");
  EXPECT_EQ(vars.Variables()[30].Value, "");
  EXPECT_EQ(vars.Variables()[31].Name, "Temp");
  EXPECT_FALSE(vars.Variables()[31].Value.empty());
  EXPECT_EQ(vars.ProcessF("{AdminTools}\\Tools"), "\\Tools");
}

TEST(VariablesTest, RealSystemFolders) {
  TVariables vars;
  vars.ReadSystemPaths();
#ifdef _WIN32
  EXPECT_EQ(vars.ProcessF("{ProgramFiles}"), "C:\\Program Files");
#else
  EXPECT_EQ(vars.ProcessF("{ProgramFiles}"), "Z:\\opt");
#endif
  EXPECT_NE(vars.ProcessF("{Temp}").back(), '\\');
}

}  // namespace
}  // namespace volok

namespace volok {
namespace {

TEST(VariablesPathCase, PathsMatchNamesInAnyAsciiCaseWhileTextsStayExact) {
  TVariables vars;
  vars.Add("InstallPath", "C:\\App");
  std::string path = "{installpath}\\bin\\{INSTALLPATH}", text = "{installpath} {InstallPath}";
  vars.ProcessPath(path);
  vars.Process(text);
  EXPECT_EQ(path, "C:\\App\\bin\\C:\\App");
  EXPECT_EQ(text, "{installpath} C:\\App");
  std::vector<std::string> unknown = UnknownPlaceholders("{installpath}\\{Nope}\\{a{Temp}", {"InstallPath", "Temp"}, true);
  EXPECT_EQ(unknown, std::vector<std::string>{"{Nope}"});
  EXPECT_EQ(UnknownPlaceholders("{installpath}", {"InstallPath"}, false), std::vector<std::string>{"{installpath}"});
}

}  // namespace
}  // namespace volok
