#include <windows.h>
#include <ole2.h>
#include <shlobj.h>

#include "platform/shell.h"
#include "platform/win32/com.h"
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

  Status CreateShellLink(const std::string& link_path, const std::string& program, const std::string& arguments,
                         const std::string& working_folder, bool& saved) override {
    saved = false;
    CoInitialize(nullptr);  // once per thread; its answer does not matter
    win32::ComPtr<IShellLinkW> link;
    HRESULT rc = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(link.Receive()));
    if (FAILED(rc)) return Status::Failure(win32::ComErrorMessage(rc));
    auto file = link.As<IPersistFile>(IID_IPersistFile);
    if (!file) return Status::Failure(win32::ComErrorMessage(E_NOINTERFACE));
    link->SetPath(win32::Widen(program).c_str());
    link->SetArguments(win32::Widen(arguments).c_str());
    link->SetWorkingDirectory(win32::Widen(working_folder).c_str());
    saved = SUCCEEDED(file->Save(win32::Widen(link_path).c_str(), FALSE));
    return Status::Ok();
  }
};

}  // namespace

Shell& Shell::BuiltIn() {
  static Win32Shell instance;
  return instance;
}

}  // namespace volok::platform
