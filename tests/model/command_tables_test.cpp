// Dispatch by name: case-insensitive names, exact platform text, first
// registration wins, and the build table's two errors.
#include "model/command_tables.h"

#include <gtest/gtest.h>

#include "common/error.h"
#include "model/install_file.h"

namespace volok {
namespace {

TEST(CommandTablesTest, CommandsMatchIgnoringCaseAndFilterByArch) {
  std::vector<std::string> ran;
  TCommands commands;
  commands.Arch = "x86-64";
  commands.Add("Copy", [&](TInstallFile& f) { ran.push_back("copy:" + f.Name()); });
  commands.Add("COPY", [&](TInstallFile& f) { ran.push_back("second:" + f.Name()); });
  commands.Add("Run", TCommandAction());
  auto entry = [](const char* name, const char* action, const char* arch) {
    TInstallFile f;
    f.SetName(name);
    f.SetAction(action);
    f.SetArch(arch);
    return f;
  };
  for (TInstallFile f : {entry("a", "copy", ""), entry("b", "Unknown", ""), entry("c", "Copy", "x86"),
                         entry("d", "Copy", "x86-64"), entry("e", "Copy", "X86-64"), entry("f", "run", "")})
    commands.Process(f);
  EXPECT_EQ(ran, (std::vector<std::string>{"copy:a", "copy:d"}));
  commands.Arch = "x86";
  TInstallFile g = entry("g", "copy", "x86");
  commands.Process(g);
  EXPECT_EQ(ran.back(), "copy:g");
}

TEST(CommandTablesTest, HandlerErrorsPassThrough) {
  TCommands commands;
  commands.Add("Fail", [](TInstallFile&) { throw Error("boom"); });
  TInstallFile f;
  f.SetAction("fail");
  EXPECT_THROW(commands.Process(f), Error);
}

TEST(CommandTablesTest, BuildActionsDispatchOrRaise) {
  TInstallActions actions;
  std::string seen;
  actions.Add("Folder", "Zip", [&](const std::string& fn, const std::string& out, std::uint32_t& size,
                                   std::uint32_t& crc) {
    seen = fn + ">" + out;
    size = 7;
    crc = 9;
  });
  actions.Add("Command", "None", TInstallActionProc());
  std::uint32_t size = 0, crc = 0;
  actions.Process("FOLDER", "zip", "src", "out.zip", size, crc);
  EXPECT_EQ(seen, "src>out.zip");
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(crc, 9u);
  try {
    actions.Process("File", "Zip", "C:\\src\\a.txt", "x", size, crc);
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Недопустимый тип или действие для исходного файла: C:\\src\\a.txt.");
  }
  try {
    actions.Process("command", "NONE", "cmd", "x", size, crc);
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Недопустимый указатель на процедуру выполнения для исходного файла: cmd.");
  }
}

}  // namespace
}  // namespace volok
