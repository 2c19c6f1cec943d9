#include <windows.h>

#include <atomic>
#include <vector>

#include "platform/win32/handle.h"
#include "platform/win32/no_follow.h"

namespace volok::platform::win32 {

namespace {

bool SystemProbe(const std::wstring&, unsigned long attributes) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

std::atomic<ReparseProbe> probe_in_use{&SystemProbe};

constexpr DWORD kOpenItself = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

DWORD HandleAttributes(HANDLE handle) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) return tag.FileAttributes;
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileInformationByHandle(handle, &info) ? info.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

bool IsLink(const std::wstring& path, DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && probe_in_use.load()(path, attributes);
}

// The attributes of the entry open as `handle` at `path`, with the reparse
// bit the path's own attributes show: Wine opens a host link's target even
// with FILE_FLAG_OPEN_REPARSE_POINT, and only the path tells the link.
DWORD EntryAttributes(HANDLE handle, const std::wstring& path) {
  DWORD attributes = HandleAttributes(handle);
  DWORD own = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && own != INVALID_FILE_ATTRIBUTES)
    attributes |= own & FILE_ATTRIBUTE_REPARSE_POINT;
  return attributes;
}

// The handle's own path as the system resolved it ("\\?\C:\…"), or "".
std::wstring FinalPath(HANDLE handle) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return {};
    if (length < path.size()) return path.substr(0, length);
    path.resize(length + 1);
  }
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// Whether the entry open as `handle` lies elsewhere than at `path`: Wine 8
// opens the target of a host link even with FILE_FLAG_OPEN_REPARSE_POINT
// and shows a link to a file as a plain file, so only the resolved path
// tells that deleting or moving the handle would reach the target. A short
// name (with "~") may differ from the long one without being a link.
// `final_parent`: the resolved path of the folder holding it, when known.
bool Relocated(HANDLE handle, const std::wstring& path, std::wstring final_parent = {}) {
  std::wstring final_path = FinalPath(handle);
  if (final_path.empty()) return false;  // nothing resolved: nothing to tell
  std::size_t slash = path.find_last_of(L'\\'), final_slash = final_path.find_last_of(L'\\');
  if (slash == std::wstring::npos || final_slash == std::wstring::npos) return false;
  std::wstring leaf = path.substr(slash + 1);
  if (final_parent.empty()) {
    ScopedHandle folder(CreateFileW(path.substr(0, slash).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (folder.valid()) final_parent = FinalPath(folder.get());
  }
  if (final_parent.empty()) return false;
  if (!SameText(final_path.substr(0, final_slash), final_parent)) return true;
  return leaf.find(L'~') == std::wstring::npos && !SameText(final_path.substr(final_slash + 1), leaf);
}

// Where the root of a "\\?\" path ends: after "\\?\C:\" or
// "\\?\UNC\server\share\"; npos for any other form.
std::size_t RootLength(const std::wstring& path) {
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    std::size_t server = path.find(L'\\', 8);
    std::size_t share = server == std::wstring::npos ? server : path.find(L'\\', server + 1);
    return share == std::wstring::npos ? share : share + 1;
  }
  if (path.size() >= 7 && path.rfind(L"\\\\?\\", 0) == 0 && path[5] == L':' && path[6] == L'\\') return 7;
  return std::wstring::npos;
}

// The folders from the root down to the parent of an entry, each open
// without delete sharing and checked to be a real folder.
class PinnedChain final {
 public:
  DWORD Pin(const std::wstring& path) {
    std::size_t end = RootLength(path);
    if (end == std::wstring::npos || path.size() <= end || path.back() == L'\\') return ERROR_INVALID_NAME;
    for (std::size_t slash = path.find(L'\\', end); slash != std::wstring::npos; slash = path.find(L'\\', slash + 1)) {
      std::wstring folder = path.substr(0, slash);
      ScopedHandle handle(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, kOpenItself, nullptr));
      // Someone else holds it open for deleting: checked all the same.
      if (!handle.valid() && GetLastError() == ERROR_SHARING_VIOLATION)
        handle = ScopedHandle(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, kOpenItself, nullptr));
      if (!handle.valid()) return GetLastError();
      DWORD attributes = EntryAttributes(handle.get(), folder);
      if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
      if (IsLink(folder, attributes)) return ERROR_CANT_ACCESS_FILE;
      if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_DIRECTORY;
      FFolders.push_back(std::move(handle));
    }
    return FFolders.empty() ? ERROR_INVALID_NAME : 0;
  }
  HANDLE Parent() const { return FFolders.back().get(); }

 private:
  std::vector<ScopedHandle> FFolders;
};

// A link whose handle is its target (Wine's host links): acting on the
// handle would move or delete what it names, so it is left alone. A real
// reparse point is opened as itself and may go.
bool HostLinkInPlace(HANDLE handle, const std::wstring& path, const std::wstring& final_parent = {}) {
  return !(HandleAttributes(handle) & FILE_ATTRIBUTE_REPARSE_POINT) &&
         (IsLink(path, EntryAttributes(handle, path)) || Relocated(handle, path, final_parent));
}

// The entry itself, for deleting or renaming.
ScopedHandle OpenItself(const std::wstring& path, DWORD share) {
  return ScopedHandle(CreateFileW(path.c_str(),
                                  DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | FILE_LIST_DIRECTORY |
                                      SYNCHRONIZE,
                                  share, nullptr, OPEN_EXISTING, kOpenItself, nullptr));
}

DWORD DeleteByHandle(HANDLE handle) {
  DWORD attributes = HandleAttributes(handle);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = (attributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
    basic.FileAttributes &= FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_NORMAL;
    if (basic.FileAttributes & ~FILE_ATTRIBUTE_NORMAL) basic.FileAttributes &= ~FILE_ATTRIBUTE_NORMAL;
    (void)SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
  }
  FILE_DISPOSITION_INFO disposition{TRUE};
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) ? 0
                                                                                                   : GetLastError();
}

// The rename of an open entry into the folder `parent` under `leaf`.
DWORD RenameByHandle(HANDLE entry, HANDLE parent, const std::wstring& leaf) {
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + (leaf.size() + 1) * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = parent;
  info->FileNameLength = static_cast<DWORD>(leaf.size() * sizeof(wchar_t));
  leaf.copy(info->FileName, leaf.size());
  return SetFileInformationByHandle(entry, FileRenameInfo, info, static_cast<DWORD>(buffer.size())) ? 0
                                                                                                      : GetLastError();
}

// An answer of a rename that another way of asking would get as well.
bool Refusal(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_ALREADY_EXISTS ||
         error == ERROR_NOT_SAME_DEVICE || error == ERROR_DIR_NOT_EMPTY || error == ERROR_WRITE_PROTECT;
}

std::wstring Leaf(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

DWORD RemoveBelow(const std::wstring& path, const std::wstring& final_parent);

// The names in the folder open as `folder`, read through that handle: a
// second open by path would have to share the delete access it holds.
DWORD ListByHandle(HANDLE folder, std::vector<std::wstring>& names) {
  std::vector<LONGLONG> buffer(8192);  // 64 KiB, aligned as the records need
  for (;;) {
    if (!GetFileInformationByHandleEx(folder, FileIdBothDirectoryInfo, buffer.data(),
                                      static_cast<DWORD>(buffer.size() * sizeof(LONGLONG)))) {
      DWORD error = GetLastError();
      return error == ERROR_NO_MORE_FILES ? 0 : error;
    }
    const unsigned char* record = reinterpret_cast<const unsigned char*>(buffer.data());
    for (;;) {
      const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(record);
      std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") names.push_back(name);
      if (info->NextEntryOffset == 0) break;
      record += info->NextEntryOffset;
    }
  }
}

// Deletes the entries of the folder open as `folder` at `path`; every
// reparse point among them goes as itself.
DWORD RemoveEntries(HANDLE folder, const std::wstring& path) {
  std::vector<std::wstring> names;
  DWORD first_error = ListByHandle(folder, names);
  const std::wstring final_path = FinalPath(folder);
  for (const std::wstring& name : names) {
    DWORD error = RemoveBelow(path + L"\\" + name, final_path);
    if (error && !first_error) first_error = error;
  }
  return first_error;
}

// `path`'s folder is held open; the entry is opened as itself, and a real
// folder is held, without delete sharing, while its entries go.
DWORD RemoveBelow(const std::wstring& path, const std::wstring& final_parent) {
  ScopedHandle entry = OpenItself(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (!entry.valid()) return GetLastError();
  DWORD attributes = EntryAttributes(entry.get(), path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  if (HostLinkInPlace(entry.get(), path, final_parent)) return ERROR_CANT_ACCESS_FILE;
  DWORD first_error = 0;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !IsLink(path, attributes)) first_error = RemoveEntries(entry.get(), path);
  DWORD error = DeleteByHandle(entry.get());
  return first_error ? first_error : error;
}

}  // namespace

void SetReparseProbe(ReparseProbe probe) { probe_in_use = probe ? probe : &SystemProbe; }

bool OpenedLink(HANDLE handle, const std::wstring& path) {
  return IsLink(path, EntryAttributes(handle, path)) || Relocated(handle, path);
}

unsigned long MoveNoFollow(const std::wstring& source, const std::wstring& target) {
  PinnedChain from, to;
  if (DWORD error = from.Pin(source)) return error;
  if (DWORD error = to.Pin(target)) return error;
  ScopedHandle entry = OpenItself(source, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (!entry.valid()) return GetLastError();
  if (HostLinkInPlace(entry.get(), source)) return ERROR_CANT_ACCESS_FILE;
  // MoveFileExW's rule: a file may be replaced, a folder never.
  DWORD existing = GetFileAttributesW(target.c_str());
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY) &&
      !(existing & FILE_ATTRIBUTE_REPARSE_POINT) && lstrcmpiW(source.c_str(), target.c_str()) != 0)
    return ERROR_ALREADY_EXISTS;
  DWORD error = RenameByHandle(entry.get(), to.Parent(), Leaf(target));
  if (!error || Refusal(error)) return error;
  // Wine 8 ignores the root folder of a rename (ERROR_FILE_NOT_FOUND) but
  // takes the target's full NT path; the chains stay held and checked.
  error = RenameByHandle(entry.get(), nullptr, L"\\??\\" + target.substr(4));
  if (!error || Refusal(error)) return error;
  entry = ScopedHandle();
  return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : GetLastError();
}

unsigned long RemoveNoFollow(const std::wstring& path) {
  PinnedChain chain;
  if (DWORD error = chain.Pin(path)) return error;
  ScopedHandle entry = OpenItself(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (!entry.valid()) return GetLastError();
  if (HostLinkInPlace(entry.get(), path)) return ERROR_CANT_ACCESS_FILE;
  return DeleteByHandle(entry.get());
}

unsigned long MakeFolderNoFollow(const std::wstring& path) {
  PinnedChain chain;
  if (DWORD error = chain.Pin(path)) return error;
  return CreateDirectoryW(path.c_str(), nullptr) ? 0 : GetLastError();
}

unsigned long RemoveTreeNoFollow(const std::wstring& path) {
  PinnedChain chain;
  if (DWORD error = chain.Pin(path)) return error;
  return RemoveBelow(path, {});
}

}  // namespace volok::platform::win32
