#include <windows.h>

#include <string>

#include "platform/win32/system_library.h"

namespace volok::platform::win32 {

HMODULE SystemLibrary(const wchar_t* name) {
  // Modules stay loaded for the process's life: the system counts the
  // references, so asking again costs nothing.
  HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module || GetLastError() != ERROR_INVALID_PARAMETER) return module;
  // A loader without the search flags (Windows 7 without KB2533623): the
  // full path of the system folder's copy, which is searched for nothing else.
  wchar_t folder[MAX_PATH];
  UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring path = std::wstring(folder, length) + L"\\" + name;
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace volok::platform::win32
