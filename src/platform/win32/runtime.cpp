#include <windows.h>

#include <string>
#include <vector>

#include "platform/runtime.h"
#include "platform/shell.h"
#include "platform/win32/wide.h"

namespace volok::platform {

std::string ExecutablePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    // A full buffer means the path may have been cut: try a larger one.
    if (n < buffer.size()) return win32::Narrow(std::wstring_view(buffer.data(), n));
    buffer.resize(buffer.size() * 2);
  }
}

std::string RunningImagePath() { return ExecutablePath(); }

std::uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

bool IsWin64() {
#ifdef _WIN64
  return true;
#else
  // Looked up by name: older systems have no IsWow64Process.
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto query = kernel ? reinterpret_cast<IsWow64ProcessFn>(
                            reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")))
                      : nullptr;
  BOOL wow64 = FALSE;
  return query && query(GetCurrentProcess(), &wow64) && wow64;
#endif
}

void HardenDllSearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto set = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(
                          reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))
                    : nullptr;
  if (set) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Also drop the current folder from the search of older loaders.
  SetDllDirectoryW(L"");
}

std::vector<std::string> ThisMachineNames() {
  std::vector<std::string> names;
  for (COMPUTER_NAME_FORMAT format : {ComputerNameNetBIOS, ComputerNameDnsHostname, ComputerNameDnsFullyQualified}) {
    wchar_t buffer[512];
    DWORD size = 512;
    if (GetComputerNameExW(format, buffer, &size) && size > 0) names.push_back(win32::Narrow({buffer, size}));
  }
  return names;
}

bool EnvironmentVariable(const std::string& name, std::string& value) {
  std::wstring wide = win32::Widen(name);
  std::wstring buffer(32768, L'\0');
  SetLastError(ERROR_SUCCESS);
  DWORD length = GetEnvironmentVariableW(wide.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
  if (length >= buffer.size()) return false;
  value = win32::Narrow(std::wstring_view(buffer.data(), length));
  return true;
}

StatePlace JournalPlace(bool per_user) {
  std::string folder;
  if (EnvironmentVariable("VOLOK_JOURNAL_DIR", folder) && !folder.empty()) return ChosenPlace(folder);
  folder = Shell::Default().SpecialFolder(per_user ? SpecialFolderId::LocalAppData : SpecialFolderId::CommonAppData);
  if (folder.empty()) return {};
  return {folder, {"volok", "journal"}};
}

bool SetCurrentFolder(const std::string& folder) {
  return SetCurrentDirectoryW(win32::Widen(folder).c_str()) != 0;
}

}  // namespace volok::platform
