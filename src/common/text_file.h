// Whole-file reading and writing, and text files in code pages. Every
// failure of the file system throws Error with the system's message.
#pragma once

#include <string>
#include <string_view>

namespace volok {

// The whole file. Others may read and write it meanwhile.
std::string ReadFileBytes(const std::string& path);
// Creates or truncates the file and writes exactly `bytes`. Others may read
// it meanwhile, not write it.
void WriteFileBytes(std::string_view bytes, const std::string& path);

// The file's text: UTF-8 after EF BB BF, UTF-16 LE after FF FE, UTF-16 BE
// after FE FF, otherwise the system's ANSI code page. One further U+FEFF at
// the start of the decoded text is dropped too.
std::string ReadTextFile(const std::string& path);
// Writes `text` converted to `code_page` (1200 UTF-16 LE, 1201 UTF-16 BE,
// 65000 UTF-7, 65001 UTF-8, otherwise a Windows code page) without any
// byte-order mark. Characters the code page lacks become '?'.
void WriteTextFile(std::string_view text, const std::string& path, unsigned code_page);

// The conversions behind the two above, for bytes already in memory.
std::string DecodeText(std::string_view bytes);
std::string EncodeText(std::string_view text, unsigned code_page);

}  // namespace volok
