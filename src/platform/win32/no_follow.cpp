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
      DWORD attributes = HandleAttributes(handle.get());
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

// The entry itself, for deleting or renaming.
ScopedHandle OpenItself(const std::wstring& path, DWORD share) {
  return ScopedHandle(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, share,
                                  nullptr, OPEN_EXISTING, kOpenItself, nullptr));
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

std::wstring Leaf(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

DWORD RemoveBelow(const std::wstring& path);

// Deletes the entries of the open folder `path`; every reparse point among
// them goes as itself.
DWORD RemoveEntries(const std::wstring& path) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  ScopedFind find(FindFirstFileW((path + L"\\*").c_str(), &data));
  if (!find.valid()) return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : GetLastError();
  do {
    std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find.get(), &data));
  DWORD first_error = 0;
  for (const std::wstring& name : names) {
    DWORD error = RemoveBelow(path + L"\\" + name);
    if (error && !first_error) first_error = error;
  }
  return first_error;
}

// `path`'s folder is held open; the entry is opened as itself, and a real
// folder is held, without delete sharing, while its entries go.
DWORD RemoveBelow(const std::wstring& path) {
  ScopedHandle entry = OpenItself(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (!entry.valid()) return GetLastError();
  DWORD attributes = HandleAttributes(entry.get());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  DWORD first_error = 0;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !IsLink(path, attributes)) first_error = RemoveEntries(path);
  DWORD error = DeleteByHandle(entry.get());
  return first_error ? first_error : error;
}

}  // namespace

void SetReparseProbe(ReparseProbe probe) { probe_in_use = probe ? probe : &SystemProbe; }

bool OpenedLink(HANDLE handle, const std::wstring& path) { return IsLink(path, HandleAttributes(handle)); }

unsigned long MoveNoFollow(const std::wstring& source, const std::wstring& target) {
  PinnedChain from, to;
  if (DWORD error = from.Pin(source)) return error;
  if (DWORD error = to.Pin(target)) return error;
  ScopedHandle entry = OpenItself(source, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (!entry.valid()) return GetLastError();
  // MoveFileExW's rule: a file may be replaced, a folder never.
  DWORD existing = GetFileAttributesW(target.c_str());
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY) &&
      !(existing & FILE_ATTRIBUTE_REPARSE_POINT) && lstrcmpiW(source.c_str(), target.c_str()) != 0)
    return ERROR_ALREADY_EXISTS;
  DWORD error = RenameByHandle(entry.get(), to.Parent(), Leaf(target));
  if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION) return error;
  // A system that renames no handle into another folder's handle: the
  // path rename, while both chains stay held and checked.
  entry = ScopedHandle();
  return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : GetLastError();
}

unsigned long RemoveNoFollow(const std::wstring& path) {
  PinnedChain chain;
  if (DWORD error = chain.Pin(path)) return error;
  ScopedHandle entry = OpenItself(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (!entry.valid()) return GetLastError();
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
  return RemoveBelow(path);
}

}  // namespace volok::platform::win32
