// UTF-8 <-> UTF-16 at the Win32 boundary (only the ...W APIs are called) and
// the translation of Win32 error codes into message texts. Include only from
// win32/*.cpp, after <windows.h>.
#pragma once

#include <string>
#include <string_view>

namespace volok::platform::win32 {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);
// The system's message for a Win32 error code, with the path it concerns.
std::string WindowsErrorMessage(unsigned long error, const std::string& path = {});

}  // namespace volok::platform::win32
