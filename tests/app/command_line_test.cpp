#include "app/command_line.h"

#include <gtest/gtest.h>

namespace volok {
namespace {

using Params = std::vector<std::string>;

TEST(CommandLineTest, SplitsAtBlanksOutsideQuotes) {
  EXPECT_EQ(SplitCommandLine("setup.exe silent"), (Params{"setup.exe", "silent"}));
  EXPECT_EQ(SplitCommandLine("\"C:\\My App\\setup.exe\"  \" SILENT \"\tD:\\x"),
            (Params{"C:\\My App\\setup.exe", " SILENT ", "D:\\x"}));
  // Quotes toggle inside a parameter and are dropped.
  EXPECT_EQ(SplitCommandLine("a C:\\\"Program Files\"\\{Name}\\"), (Params{"a", "C:\\Program Files\\{Name}\\"}));
  // A pair of quotes is an empty parameter in its position.
  EXPECT_EQ(SplitCommandLine("setup.exe silent \"\""), (Params{"setup.exe", "silent", ""}));
  // An unterminated quote runs to the end.
  EXPECT_EQ(SplitCommandLine("x \"a b"), (Params{"x", "a b"}));
  EXPECT_EQ(SplitCommandLine("  \r\n "), Params{});
}

}  // namespace
}  // namespace volok
