#include <windows.h>

#include <vector>

#include "platform/protected_folders.h"
#include "platform/win32/wide.h"

namespace volok::platform {

namespace {

std::string Variable(const wchar_t* name) {
  std::vector<wchar_t> buffer(32768);
  DWORD length = GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0 || length >= buffer.size()) return {};
  return win32::Narrow(std::wstring(buffer.data(), length));
}

std::string ParentOf(const std::string& path) {
  std::size_t last = path.find_last_of('\\');
  return last == std::string::npos || last < 3 ? std::string() : path.substr(0, last);
}

}  // namespace

ProtectedFolderLists SystemProtectedFolders() {
  ProtectedFolderLists lists;
  wchar_t windows[MAX_PATH + 1] = {};
  UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (length > 0 && length <= MAX_PATH) lists.Within.push_back(win32::Narrow(std::wstring(windows, length)));
  // A 32-bit process sees "Program Files (x86)" as its ProgramFiles; the
  // 64-bit roots come only from these variables.
  for (const wchar_t* name : {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432", L"CommonProgramFiles",
                              L"CommonProgramFiles(x86)", L"CommonProgramW6432", L"PUBLIC", L"ALLUSERSPROFILE",
                              L"ProgramData", L"USERPROFILE"}) {
    std::string value = Variable(name);
    if (!value.empty()) lists.Above.push_back(value);
  }
  // The folder that holds every user's profile.
  std::string profiles = ParentOf(Variable(L"USERPROFILE"));
  if (!profiles.empty()) lists.Above.push_back(profiles);
  return lists;
}

}  // namespace volok::platform
