#include <windows.h>
#include <shlobj.h>

#include "platform/shell.h"
#include "platform/win32/wide.h"

namespace volok::platform {

namespace {

class Win32Shell final : public Shell {
 public:
  std::string SpecialFolder(SpecialFolderId id) override {
    wchar_t buffer[MAX_PATH + 1] = {};
    if (!SHGetSpecialFolderPathW(nullptr, buffer, static_cast<int>(id), FALSE)) return {};
    std::wstring path(buffer);
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    return win32::Narrow(path);
  }
};

}  // namespace

Shell& Shell::BuiltIn() {
  static Win32Shell instance;
  return instance;
}

}  // namespace volok::platform
