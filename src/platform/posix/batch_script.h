// POSIX has no command interpreter for the engine's self-delete batch, so the
// batch is translated into a POSIX shell script that does the same. Only the
// part of cmd's language such a batch needs is understood; anything else
// refuses the whole batch rather than run part of it.
//
// Understood: "@" prefixes, blank lines, "rem" and "::" comments, ":label"
// lines, "goto label" (":eof" ends), "exit"; "del"/"erase" (switches /f /q
// /a), "rmdir"/"rd" (/s /q), "attrib" (-r, +r; other bits ignored), "ping
// -n N" (waits N-1 seconds, as it takes on a host that answers), "timeout /t
// N", "cd", "set name=text", "set /a name=N", "name+=N", "name-=N" (N a
// number or a name); "if [not] exist x command", "if [not] a op b command"
// with op one of == equ neq lss leq gtr geq (numbers; == compares texts),
// "else" after a parenthesised command; "&", "&&", "||", parentheses across
// lines; redirections ("> nul", "2>&1"), which are dropped; "echo", "chcp"
// (switches the code page of the lines after it), "setlocal", "endlocal",
// "title", "cls" do nothing. Percent signs: "%%" is "%", "%0", "%~f0",
// "%~dp0", "%~nx0" name the batch, "%name%" is a variable set by the batch
// (numbers and texts in "set" and "if" only) or of the environment; a
// variable that is neither refuses the batch (a path built on it would
// reach somewhere else).
//
// Quoted operands take any character: a "" inside the quotes is one ", and
// a " followed by anything but a blank, an operator or the line's end belongs
// to the path (a folder named a"b). Windows names cannot hold a ", so cmd
// never meets either.
//
// The script is bounded whatever the batch says: at most 10,000 jumps and
// 60 seconds of waiting, then it ends.
#pragma once

#include <string>

namespace volok::platform::posix {

// The script for the batch text `text` (its lines decoded from
// `code_page` until a "chcp" says otherwise) of the batch file
// `batch_path` (a Windows path, for %0). False, with the reason in
// `error`, for a batch outside the understood part.
[[nodiscard]] bool BatchToShell(const std::string& text, const std::string& batch_path, unsigned code_page,
                                std::string& script, std::string& error);

}  // namespace volok::platform::posix
