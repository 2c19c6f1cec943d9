// Moves and deletes that never go through a link, junction or other reparse
// point (the Windows side of FileSystem::MoveEntry and RemoveEntry, and the
// permanent tree delete). Every folder on the way is held open without
// delete sharing while the change is made, so none can be renamed or
// swapped for a link meanwhile, and each is checked not to be a reparse
// point; the entry itself is opened with FILE_FLAG_OPEN_REPARSE_POINT and
// renamed or deleted through its handle. Include only from win32/*.cpp,
// after <windows.h>.
#pragma once

#include <string>

namespace volok::platform::win32 {

// Whether the entry at `path`, whose handle reports `attributes`, is to be
// treated as a link. Tests replace it to fake the reparse points that Wine
// cannot show; null restores the system's answer.
using ReparseProbe = bool (*)(const std::wstring& path, unsigned long attributes);
void SetReparseProbe(ReparseProbe probe);

// Whether the entry open as `handle` (opened with
// FILE_FLAG_OPEN_REPARSE_POINT) is a link.
bool OpenedLink(HANDLE handle, const std::wstring& path);

// Error codes (0 for done) of the three operations on "\\?\" paths.
unsigned long MoveNoFollow(const std::wstring& source, const std::wstring& target);
unsigned long RemoveNoFollow(const std::wstring& path);
unsigned long MakeFolderNoFollow(const std::wstring& path);
unsigned long RemoveTreeNoFollow(const std::wstring& path);

}  // namespace volok::platform::win32
