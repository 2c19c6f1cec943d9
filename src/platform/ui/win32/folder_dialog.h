// The folder dialog. Include only from platform/ui/win32/*.cpp, after
// <windows.h>.
#pragma once

#include <string>

namespace volok::platform::ui::win32 {

// SHBrowseForFolderW from the drives, with `path` selected at the start;
// replaces `path` only when a file-system folder was confirmed.
bool BrowseForFolder(HWND owner, const std::string& title, std::string& path);

}  // namespace volok::platform::ui::win32
