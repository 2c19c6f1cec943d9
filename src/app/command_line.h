// The program's own command-line parser: parameters split at characters
// with codes up to 32; a double quote opens or closes a stretch in which
// blanks do not split, and quotes are not part of the parameter. The first
// parameter (0) is the program itself.
#pragma once

#include <string>
#include <vector>

namespace volok {

std::vector<std::string> SplitCommandLine(const std::string& command_line);
// For each parameter SplitCommandLine gives, the raw line from its first
// character to the end (quotes and blanks as they stand).
std::vector<std::string> CommandLineRests(const std::string& command_line);

// The running process's parameters: its raw command line split by the rules
// above where the system gives one (Windows), otherwise argv as it is.
std::vector<std::string> ProcessParameters(int argc, char** argv);
// The raw rest of the line for each of ProcessParameters (Windows); empty
// on POSIX, where the parameters joined stand for it.
std::vector<std::string> ProcessParameterRests();

}  // namespace volok
