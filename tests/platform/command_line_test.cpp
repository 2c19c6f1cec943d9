// Command-line splitting, checked against CommandLineToArgvW itself when run
// under Wine.
#include <gtest/gtest.h>

#include "platform/command_line.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include "common/text.h"
#endif

namespace volok::platform {
namespace {

using Tokens = std::vector<std::string>;

struct Case {
  const char* line;
  Tokens expected;
};

const Case kCases[] = {
    {"prog", {"prog"}},
    {"prog a  b\tc", {"prog", "a", "b", "c"}},
    {"\"C:\\Program Files\\app.exe\" -x \"two words\"", {"C:\\Program Files\\app.exe", "-x", "two words"}},
    {"\"C:\\dir\\\"rest a", {"C:\\dir\\", "rest", "a"}},  // no escapes in the program
    {"p a\\\\b c\\\"d", {"p", "a\\\\b", "c\"d"}},
    {"p \"a\\\\\" b", {"p", "a\\", "b"}},
    {"p \"a\\\\\\\"b\"", {"p", "a\\\"b"}},
    {"p a\"b c\"d e", {"p", "ab cd", "e"}},
    {"p \"\"", {"p", ""}},
    {"p \"a\"\"b\" c", {"p", "a\"b c"}},
    {"p \"unterminated arg", {"p", "unterminated arg"}},
    {"p trailing\\", {"p", "trailing\\"}},
    {"p Привет \"мир 2\"", {"p", "Привет", "мир 2"}},
};

TEST(CommandLineTest, SplitsByTheWindowsRules) {
  for (const Case& c : kCases) EXPECT_EQ(SplitCommandLine(c.line), c.expected) << c.line;
  EXPECT_TRUE(SplitCommandLine("").empty());
}

#ifdef _WIN32
TEST(CommandLineTest, AgreesWithCommandLineToArgvW) {
  for (const Case& c : kCases) {
    std::u16string wide = Utf8ToUtf16(c.line);
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(reinterpret_cast<const wchar_t*>(wide.c_str()), &count);
    ASSERT_NE(argv, nullptr);
    Tokens system;
    for (int i = 0; i < count; ++i) system.push_back(Utf16ToUtf8(reinterpret_cast<const char16_t*>(argv[i])));
    LocalFree(argv);
    EXPECT_EQ(SplitCommandLine(c.line), system) << c.line;
  }
}
#endif

// Whatever an argument holds, quoted it splits back into itself.
TEST(CommandLineSplit, QuotedArgumentsReadBackUnchanged) {
  for (const std::string& argument : {std::string("plain"), std::string(""), std::string("two words"),
                                      std::string("C:\\Program Files\\"), std::string("say \"hi\""),
                                      std::string("back\\\\\"quote"), std::string("tab\there"),
                                      std::string("end\\")})
    EXPECT_EQ(SplitCommandLine("prog " + QuoteArgument(argument) + " next"), (Tokens{"prog", argument, "next"}))
        << argument;
}

}  // namespace
}  // namespace volok::platform
