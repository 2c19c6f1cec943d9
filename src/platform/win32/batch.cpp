#include <windows.h>

#include "platform/folder_batch.h"
#include "platform/runtime.h"
#include "platform/win32/wide.h"

namespace volok::platform {

void ShowMessage(const std::string& title, const std::string& text) {
  MessageBoxW(nullptr, win32::Widen(text).c_str(), win32::Widen(title).c_str(), MB_OK | MB_ICONINFORMATION);
}

namespace {

// Starts the command interpreter, hidden and without waiting, on
// `commands` in `folder`.
bool RunInterpreter(const std::wstring& commands, const std::wstring& folder) {
  wchar_t system[MAX_PATH];
  UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  std::wstring interpreter = std::wstring(system, length) + L"\\cmd.exe";
  std::wstring command_line = L"\"" + interpreter + L"\" /d /c \"" + commands + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(interpreter.c_str(), command_line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      folder.c_str(), &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace

bool StartBatch(const std::string& batch, const std::string& working_folder) {
  // The interpreter is named explicitly and given the batch by its bare name
  // when it lies in the working folder: cmd would expand "%" and act on "&"
  // or "^" in a full path that it parses itself.
  std::wstring folder = win32::Widen(working_folder);
  std::wstring script = win32::Widen(batch);
  if (!folder.empty() && script.size() > folder.size() && script.compare(0, folder.size(), folder) == 0 &&
      script.find(L'\\', folder.size()) == std::wstring::npos)
    script = script.substr(folder.size());
  return RunInterpreter(script, folder);
}

bool StartFolderBatch(const std::string& batch) {
  std::string folder, name, parent;
  if (!SplitFolderBatch(batch, parent, folder, name)) return false;
  // "call" returns once the batch has ended, and closes it: only then can
  // the folder go.
  return RunInterpreter(L"call " + win32::Widen(folder + "\\" + name) + L" & rd /s /q " + win32::Widen(folder),
                        win32::Widen(parent));
}

}  // namespace volok::platform

namespace volok::platform {
bool RawCommandLine(std::string& command_line) {
  command_line = win32::Narrow(GetCommandLineW());
  return true;
}
}  // namespace volok::platform
