#include <windows.h>

#include "platform/console.h"
#include "platform/win32/wide.h"

namespace volok::platform {

namespace {

HANDLE& Output() {
  static HANDLE handle = INVALID_HANDLE_VALUE;
  return handle;
}

bool Usable(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

}  // namespace

void AttachParentConsole() {
  // A redirected standard output is inherited even by a GUI program; only
  // without one is the parent's console the place for the lines.
  HANDLE inherited = GetStdHandle(STD_OUTPUT_HANDLE);
  if (Usable(inherited) && GetFileType(inherited) != FILE_TYPE_UNKNOWN) {
    Output() = inherited;
    return;
  }
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  // The process lives as long as the console handle is needed: it is never
  // closed, as the standard handles are not.
  HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
  if (Usable(console)) Output() = console;
}

void WriteStdOutLine(const std::string& line) {
  HANDLE handle = Output();
  if (!Usable(handle)) return;
  DWORD mode = 0, written = 0;
  if (GetConsoleMode(handle, &mode)) {
    std::wstring wide = win32::Widen(line + "\r\n");
    (void)WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  std::string bytes = line + "\r\n";
  (void)WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace volok::platform
