// The shell's folder dialog, rooted at the Computer folder and opened at the
// current path.
#include <windows.h>
#include <shlobj.h>

#include "platform/ui/win32/folder_dialog.h"
#include "platform/win32/wide.h"

namespace volok::platform::ui::win32 {

namespace {

// Frees an item-id list the shell allocated.
struct ItemIdList {
  PIDLIST_ABSOLUTE FList = nullptr;
  ~ItemIdList() {
    if (FList) CoTaskMemFree(FList);
  }
};

int CALLBACK SelectStart(HWND dialog, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED) SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, data);
  return 0;
}

}  // namespace

bool BrowseForFolder(HWND owner, const std::string& title, std::string& path) {
  // The new dialog style needs COM in an apartment on this thread.
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::wstring wide_title = platform::win32::Widen(title);
  std::wstring start = platform::win32::Widen(path);
  wchar_t display_name[MAX_PATH] = {};
  ItemIdList root;
  SHGetSpecialFolderLocation(owner, CSIDL_DRIVES, &root.FList);
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.pidlRoot = root.FList;
  info.pszDisplayName = display_name;
  info.lpszTitle = wide_title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  info.lpfn = SelectStart;
  info.lParam = reinterpret_cast<LPARAM>(start.c_str());
  ItemIdList chosen;
  chosen.FList = SHBrowseForFolderW(&info);
  bool confirmed = false;
  if (chosen.FList) {
    wchar_t buffer[MAX_PATH] = {};
    if (SHGetPathFromIDListW(chosen.FList, buffer)) {
      path = platform::win32::Narrow(buffer);
      confirmed = true;
    }
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return confirmed;
}

}  // namespace volok::platform::ui::win32
