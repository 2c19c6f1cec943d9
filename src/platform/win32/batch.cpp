#include <windows.h>

#include "platform/runtime.h"
#include "platform/win32/wide.h"

namespace volok::platform {

void ShowMessage(const std::string& title, const std::string& text) {
  MessageBoxW(nullptr, win32::Widen(text).c_str(), win32::Widen(title).c_str(), MB_OK | MB_ICONINFORMATION);
}

bool StartBatch(const std::string& batch, const std::string& working_folder) {
  // CreateProcessW hands a .bat to the command interpreter itself.
  std::wstring command_line = L"\"" + win32::Widen(batch) + L"\"";
  std::wstring folder = win32::Widen(working_folder);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      folder.c_str(), &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace volok::platform

namespace volok::platform {
bool RawCommandLine(std::string& command_line) {
  command_line = win32::Narrow(GetCommandLineW());
  return true;
}
}  // namespace volok::platform
