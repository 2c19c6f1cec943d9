// Splits a Windows command line into its program and arguments by the rules
// of CommandLineToArgvW, which the POSIX layer needs to start a program the
// way CreateProcessW would.
#pragma once

#include <string>
#include <vector>

namespace volok::platform {

// The program is the first token: up to the closing quote when it starts
// with one (no escapes inside), else up to the first blank or tab. The
// arguments follow the C runtime's rules: blanks separate outside quotes;
// 2n backslashes before a quote give n and the quote toggles quoting, 2n+1
// give n and a literal quote; other backslashes are literal; "" inside a
// quoted block gives a literal quote and ends the block. An empty line gives no tokens.
std::vector<std::string> SplitCommandLine(const std::string& command_line);

// One argument quoted by the same C runtime rules, so SplitCommandLine (and
// CommandLineToArgvW) read it back unchanged: as it stands when it has no
// blank, tab, line break or quote and is not empty; otherwise in quotes,
// with quotes escaped and backslashes doubled before a quote or the end.
std::string QuoteArgument(const std::string& argument);

}  // namespace volok::platform
