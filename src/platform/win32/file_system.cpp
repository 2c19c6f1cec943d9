#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "platform/win32/handle.h"
#include "platform/win32/no_follow.h"
#include "platform/win32/wide.h"

namespace volok::platform {

namespace {

using win32::ScopedFind;
using win32::ScopedHandle;
using win32::Widen;
using win32::WindowsErrorMessage;

class Win32File final : public File {
 public:
  Win32File(HANDLE handle, std::string path) : FHandle(handle), FPath(std::move(path)) {}
  ~Win32File() override { CloseHandle(FHandle); }
  Win32File(const Win32File&) = delete;
  Win32File& operator=(const Win32File&) = delete;

  Status Read(void* buffer, std::size_t size, std::size_t& done) override {
    DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD n = 0;
    done = 0;
    if (!ReadFile(FHandle, buffer, chunk, &n, nullptr)) return Failure();
    done = n;
    return Status::Ok();
  }

  Status ReadAt(std::uint64_t offset, void* buffer, std::size_t size, std::size_t& done) override {
    // On a handle opened without FILE_FLAG_OVERLAPPED the OVERLAPPED offset
    // makes ReadFile a synchronous positional read; the system serializes
    // such calls per handle, so threads may share it.
    DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD n = 0;
    done = 0;
    if (!ReadFile(FHandle, buffer, chunk, &n, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) return Status::Ok();  // reading at or past the end
      return Failure();
    }
    done = n;
    return Status::Ok();
  }

  Status Write(const void* buffer, std::size_t size) override {
    const char* p = static_cast<const char*>(buffer);
    while (size > 0) {
      DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
      DWORD n = 0;
      if (!WriteFile(FHandle, p, chunk, &n, nullptr)) return Failure();
      p += n;
      size -= n;
    }
    return Status::Ok();
  }

  Status Seek(std::uint64_t offset) override {
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(FHandle, distance, nullptr, FILE_BEGIN)) return Failure();
    return Status::Ok();
  }

  Status Size(std::uint64_t& size) override {
    LARGE_INTEGER value;
    if (!GetFileSizeEx(FHandle, &value)) return Failure();
    size = static_cast<std::uint64_t>(value.QuadPart);
    return Status::Ok();
  }

  Status Truncate() override {
    if (!SetEndOfFile(FHandle)) return Failure();
    return Status::Ok();
  }

  Status Flush() override {
    if (!FlushFileBuffers(FHandle)) return Failure();
    return Status::Ok();
  }

 private:
  Status Failure() const { return Status::Failure(WindowsErrorMessage(GetLastError(), FPath)); }

  HANDLE FHandle;
  std::string FPath;
};

DWORD ShareMode(FileShare share) {
  switch (share) {
    case FileShare::None: return 0;
    case FileShare::Read: return FILE_SHARE_READ;
    case FileShare::ReadWrite: return FILE_SHARE_READ | FILE_SHARE_WRITE;
  }
  return 0;
}

Status LastError(const std::string& path) { return Status::Failure(WindowsErrorMessage(GetLastError(), path)); }

Status Checked(BOOL done, const std::string& path) { return done ? Status::Ok() : LastError(path); }

FileTime FromFiletime(const FILETIME& time) {
  return (static_cast<FileTime>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME ToFiletime(FileTime time) {
  FILETIME result;
  result.dwLowDateTime = static_cast<DWORD>(time);
  result.dwHighDateTime = static_cast<DWORD>(time >> 32);
  return result;
}

FileEntry ToEntry(const WIN32_FIND_DATAW& data) {
  FileEntry entry;
  entry.Name = win32::Narrow(data.cFileName);
  entry.IsFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  entry.IsSpecial = !entry.IsFolder && (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0;
  entry.Attributes = data.dwFileAttributes;
  entry.Size = entry.IsFolder ? 0 : (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  entry.LastWriteTime = FromFiletime(data.ftLastWriteTime);
  return entry;
}

// A call that fills a caller's buffer and answers the length it needs when
// the buffer is too small (GetFullPathNameW, GetTempPathW).
template <class Call>
bool GrowingBufferCall(Call call, std::wstring& result) {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  for (;;) {
    SetLastError(0);
    DWORD length = call(static_cast<DWORD>(buffer.size()), buffer.data());
    // Wine's GetFinalPathNameByHandleW answers a short buffer with 0 and
    // ERROR_MORE_DATA instead of the length it needs.
    if (length == 0 && GetLastError() == ERROR_MORE_DATA && buffer.size() < 65536) {
      buffer.resize(buffer.size() * 4);
      continue;
    }
    if (length == 0) return false;
    if (length < buffer.size()) {
      result.assign(buffer.data(), length);
      return true;
    }
    buffer.resize(length + 1);
  }
}

// The extended-length form of a path ("\\?\C:\…", "\\?\UNC\server\share\…"),
// made from its full path, so that no call stops at MAX_PATH characters:
// the manifest's longPathAware is honoured only where the system enables
// it, and SHFileOperationW never. Paths already in a "\\?\" or "\\.\"
// form pass unchanged; so does anything GetFullPathNameW cannot expand.
std::wstring LongPath(const std::string& path) {
  std::wstring wide = Widen(path);
  if (wide.empty() || wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0) return wide;
  std::wstring full;
  auto call = [&](DWORD size, wchar_t* buffer) { return GetFullPathNameW(wide.c_str(), size, buffer, nullptr); };
  if (!GrowingBufferCall(call, full)) return wide;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
  return wide;
}

// Calls `visit` with the path of every entry of `folder` ("." and ".."
// left out); answers the first error a visit answered, going on past it.
template <typename Visit>
DWORD EachEntry(const std::wstring& folder, Visit visit) {
  DWORD first_error = 0;
  WIN32_FIND_DATAW data;
  ScopedFind find(FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!find.valid()) return 0;
  do {
    std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    DWORD error = visit(folder + L"\\" + name);
    if (error && !first_error) first_error = error;
  } while (FindNextFileW(find.get(), &data));
  return first_error;
}

// Flushes one file or folder handle; a folder's refusal (FAT, Wine) is no
// error, as its entries are then as durable as the system makes them.
DWORD FlushOne(const std::wstring& path, bool folder) {
  ScopedHandle handle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0), nullptr));
  if (!handle.valid()) return GetLastError();
  if (FlushFileBuffers(handle.get())) return 0;
  DWORD error = GetLastError();
  return folder && error == ERROR_INVALID_FUNCTION ? 0 : error;
}

// Lists every file below `path` and the folders themselves, folders after
// their contents, links not followed.
DWORD CollectTree(const std::wstring& path, std::vector<std::wstring>& files, std::vector<std::wstring>& folders) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return 0;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    files.push_back(path);
    return 0;
  }
  DWORD error = EachEntry(path, [&](const std::wstring& entry) { return CollectTree(entry, files, folders); });
  folders.push_back(path);
  return error;
}

// Flushes every file below `path`, then the folders; answers the first
// error. Several flushes at once let the file system commit them together,
// which costs far less than one after another.
DWORD FlushEach(const std::wstring& path) {
  std::vector<std::wstring> files, folders;
  DWORD first_error = CollectTree(path, files, folders);
  std::atomic<std::size_t> next{0};
  std::atomic<DWORD> failed{0};
  auto flush_files = [&] {
    for (std::size_t i = next++; i < files.size(); i = next++) {
      DWORD error = FlushOne(files[i], false), none = 0;
      // A file another program holds without letting others write is one
      // this program could not write either (an upgrade leaves such files as
      // they are until the restart): nothing of ours waits in it.
      if (error == ERROR_SHARING_VIOLATION) continue;
      if (error) failed.compare_exchange_strong(none, error);
    }
  };
  std::vector<std::thread> threads;
  for (std::size_t i = 1; i < std::min<std::size_t>(8, files.size()); ++i) threads.emplace_back(flush_files);
  flush_files();
  for (std::thread& thread : threads) thread.join();
  if (!first_error) first_error = failed;
  for (const std::wstring& folder : folders) {
    DWORD error = FlushOne(folder, true);
    if (error && !first_error) first_error = error;
  }
  return first_error;
}

class Win32FileSystem final : public FileSystem {
 public:
  Status OpenFile(const std::string& path, FileAccess access, FileShare share,
                  std::unique_ptr<File>& file) override {
    bool reading = access == FileAccess::ReadExisting || access == FileAccess::ReadNoLink;
    bool fresh = access == FileAccess::CreateNew;
    bool no_link = access == FileAccess::AppendNoLink || access == FileAccess::ReadNoLink;
    DWORD disposition = reading                              ? OPEN_EXISTING
                        : fresh                              ? CREATE_NEW
                        : access == FileAccess::CreateAlways ? CREATE_ALWAYS
                                                             : OPEN_ALWAYS;
    DWORD rights = reading ? GENERIC_READ : fresh ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
    std::wstring full = LongPath(path);
    HANDLE handle = CreateFileW(full.c_str(), rights, ShareMode(share), nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL | (no_link || fresh ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
    if (handle == INVALID_HANDLE_VALUE) return Status::Failure(WindowsErrorMessage(GetLastError(), path));
    if (no_link && win32::OpenedLink(handle, full)) {
      CloseHandle(handle);
      return Status::Failure(WindowsErrorMessage(ERROR_CANT_ACCESS_FILE, path));
    }
    if (access == FileAccess::AppendOrCreate || access == FileAccess::AppendNoLink) {
      LARGE_INTEGER zero{};
      if (!SetFilePointerEx(handle, zero, nullptr, FILE_END)) {
        DWORD error = GetLastError();
        CloseHandle(handle);
        return Status::Failure(WindowsErrorMessage(error, path));
      }
    }
    file = std::make_unique<Win32File>(handle, path);
    return Status::Ok();
  }

  Status FullPath(const std::string& path, std::string& full) override {
    std::wstring wide = Widen(path), result;
    auto call = [&](DWORD size, wchar_t* buffer) { return GetFullPathNameW(wide.c_str(), size, buffer, nullptr); };
    if (!GrowingBufferCall(call, result)) return LastError(path);
    full = win32::Narrow(result);
    return Status::Ok();
  }

  Status CanonicalPath(const std::string& path, std::string& canonical) override {
    HANDLE handle = CreateFileW(LongPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return LastError(path);
    std::wstring result;
    auto call = [&](DWORD size, wchar_t* buffer) {
      return GetFinalPathNameByHandleW(handle, buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    };
    bool ok = GrowingBufferCall(call, result);
    DWORD error = GetLastError();
    CloseHandle(handle);
    if (!ok && error == ERROR_MORE_DATA) {
      // Wine cannot tell a final path past MAX_PATH; the long names of the
      // path as given are the best it offers then.
      std::wstring given = LongPath(path);
      auto long_name = [&](DWORD size, wchar_t* buffer) { return GetLongPathNameW(given.c_str(), buffer, size); };
      ok = GrowingBufferCall(long_name, result);
      error = GetLastError();
    }
    if (!ok) return Status::Failure(WindowsErrorMessage(error, path));
    // The final path comes in its long form: "\\?\C:\…" or "\\?\UNC\server\…".
    if (result.rfind(L"\\\\?\\UNC\\", 0) == 0)
      result = L"\\\\" + result.substr(8);
    else if (result.rfind(L"\\\\?\\", 0) == 0)
      result = result.substr(4);
    if (result.size() > 3 && result.back() == L'\\') result.pop_back();
    canonical = win32::Narrow(result);
    return Status::Ok();
  }

  Status FlushFolder(const std::string& path) override {
    ScopedHandle handle(CreateFileW(LongPath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.valid()) return LastError(path);
    // File systems that cannot flush a folder's handle log its entries
    // themselves (NTFS) or cannot be made durable by anyone (FAT).
    if (!FlushFileBuffers(handle.get()) && GetLastError() != ERROR_INVALID_FUNCTION) return LastError(path);
    return Status::Ok();
  }

  Status FlushTree(const std::string& path) override {
    std::wstring full = LongPath(path), root(MAX_PATH + 1, L'\0');
    if (!GetVolumePathNameW(full.c_str(), root.data(), static_cast<DWORD>(root.size()))) return LastError(path);
    root.resize(wcslen(root.c_str()));
    if (!root.empty() && root.back() == L'\\') root.pop_back();
    if (root.rfind(L"\\\\?\\", 0) == 0) root.erase(0, 4);
    // The whole volume at once where the system allows it (administrators
    // on Windows); else, as under Wine, every file below `path`.
    ScopedHandle volume(CreateFileW((L"\\\\.\\" + root).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (volume.valid() && FlushFileBuffers(volume.get())) return Status::Ok();
    DWORD error = FlushEach(full);
    return error ? Status::Failure(WindowsErrorMessage(error, path)) : Status::Ok();
  }

  Status LockFile(const std::string& path, std::unique_ptr<File>& lock, bool& busy) override {
    HANDLE handle = CreateFileW(LongPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = GetLastError();
    busy = handle == INVALID_HANDLE_VALUE && error == ERROR_SHARING_VIOLATION;
    if (handle == INVALID_HANDLE_VALUE) return Status::Failure(WindowsErrorMessage(error, path));
    lock = std::make_unique<Win32File>(handle, path);
    return Status::Ok();
  }

  Status RemoveAtRestart(const std::string& path) override {
    return Checked(MoveFileExW(LongPath(path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT), path);
  }

  Status MoveAtRestart(const std::string& source, const std::string& target) override {
    return Checked(MoveFileExW(LongPath(source).c_str(), LongPath(target).c_str(),
                               MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING),
                   source);
  }

  Status ObjectId(const std::string& path, std::string& id) override {
    ScopedHandle handle(CreateFileW(LongPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.valid()) return LastError(path);
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle.get(), &info)) return LastError(path);
    id = std::to_string(info.dwVolumeSerialNumber) + ":" +
         std::to_string((static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
    return Status::Ok();
  }

  // Payload links are a POSIX matter: the Windows builder follows links and
  // the Windows reader copies a link's target instead of making a link.
  Status ReadSymbolicLink(const std::string& path, std::string&) override {
    return Status::Failure("Символические ссылки не читаются в этой сборке: " + path);
  }
  bool MakesSymbolicLinks() override { return false; }
  Status MakeSymbolicLink(const std::string& link, const std::string&) override {
    return Status::Failure("Символические ссылки не создаются в этой сборке: " + link);
  }

  bool FileExists(const std::string& path) override {
    DWORD attributes = GetFileAttributesW(LongPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }

  bool WritableByOthers(const std::string& path) override {
    std::wstring full = LongPath(path);
    ScopedHandle handle(CreateFileW(full.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return !handle.valid() || win32::OpenedLink(handle.get(), full);
  }

  // Folders on Windows hold no FIFOs or sockets; a device shows itself
  // by its attribute.
  FileKind KindOf(const std::string& path) override {
    DWORD attributes = GetFileAttributesW(LongPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return FileKind::Missing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::Folder;
    return attributes & FILE_ATTRIBUTE_DEVICE ? FileKind::Special : FileKind::Regular;
  }

  bool FolderExists(const std::string& path) override {
    DWORD attributes = GetFileAttributesW(LongPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  Status MakeFolder(const std::string& path) override {
    return Checked(CreateDirectoryW(LongPath(path).c_str(), nullptr), path);
  }

  Status CopyFileOver(const std::string& source, const std::string& target) override {
    std::wstring from = LongPath(source), to = LongPath(target);
    // Windows refuses to overwrite a read-only or hidden file; Wine copies
    // over it, so the check is made here for both.
    DWORD existing = GetFileAttributesW(to.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)))
      return Status::Failure(WindowsErrorMessage(ERROR_ACCESS_DENIED, target));
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) return LastError(target);
    // Windows gives the copy the source's attributes; Wine does not when the
    // target existed, so apply them again to get the same result on both.
    DWORD wanted = GetFileAttributesW(from.c_str());
    if (wanted != INVALID_FILE_ATTRIBUTES && GetFileAttributesW(to.c_str()) != wanted)
      SetFileAttributesW(to.c_str(), wanted);
    return Status::Ok();
  }

  Status MoveFileReplace(const std::string& source, const std::string& target) override {
    return Checked(MoveFileExW(LongPath(source).c_str(), LongPath(target).c_str(), MOVEFILE_REPLACE_EXISTING), target);
  }

  Status RemoveFile(const std::string& path) override { return Checked(DeleteFileW(LongPath(path).c_str()), path); }

  Status MoveEntry(const std::string& source, const std::string& target) override {
    DWORD error = win32::MoveNoFollow(LongPath(source), LongPath(target));
    return error ? Status::Failure(WindowsErrorMessage(error, error == ERROR_ALREADY_EXISTS ? target : source))
                 : Status::Ok();
  }

  Status MakeNewFolder(const std::string& path) override {
    DWORD error = win32::MakeFolderNoFollow(LongPath(path));
    return error ? Status::Failure(WindowsErrorMessage(error, path)) : Status::Ok();
  }

  Status RemoveEntry(const std::string& path) override {
    DWORD error = win32::RemoveNoFollow(LongPath(path));
    return error ? Status::Failure(WindowsErrorMessage(error, path)) : Status::Ok();
  }

  Status RemoveEmptyFolder(const std::string& path) override {
    return Checked(RemoveDirectoryW(LongPath(path).c_str()), path);
  }

  Status ListFolder(const std::string& path, std::vector<FileEntry>& entries) override {
    entries.clear();
    std::wstring pattern = LongPath(path);
    if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
    WIN32_FIND_DATAW data;
    ScopedFind find(FindFirstFileW((pattern + L"*").c_str(), &data));
    if (!find.valid()) return LastError(path);
    do {
      std::wstring name = data.cFileName;
      if (name != L"." && name != L"..") entries.push_back(ToEntry(data));
    } while (FindNextFileW(find.get(), &data));
    if (GetLastError() != ERROR_NO_MORE_FILES) return LastError(path);
    return Status::Ok();
  }

  Status GetAttributes(const std::string& path, std::uint32_t& attributes) override {
    DWORD value = GetFileAttributesW(LongPath(path).c_str());
    if (value == INVALID_FILE_ATTRIBUTES) return LastError(path);
    attributes = value;
    return Status::Ok();
  }

  Status SetAttributes(const std::string& path, std::uint32_t attributes) override {
    DWORD settable = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                   FILE_ATTRIBUTE_ARCHIVE);
    return Checked(SetFileAttributesW(LongPath(path).c_str(), settable ? settable : FILE_ATTRIBUTE_NORMAL), path);
  }

  Status SetExecuteBits(const std::string&, std::uint32_t) override { return Status::Ok(); }

  Status GetLastWriteTime(const std::string& path, FileTime& time) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(LongPath(path).c_str(), GetFileExInfoStandard, &data)) return LastError(path);
    time = FromFiletime(data.ftLastWriteTime);
    return Status::Ok();
  }

  Status SetLastWriteTime(const std::string& path, FileTime time) override {
    // Backup semantics let the same call open a folder.
    ScopedHandle handle(CreateFileW(LongPath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.valid()) return LastError(path);
    FILETIME value = ToFiletime(time);
    return Checked(SetFileTime(handle.get(), nullptr, nullptr, &value), path);
  }

  Status TempFolderPath(std::string& path) override {
    // GetTempPath2W (Windows 11, Server 2022 and later updates) gives SYSTEM
    // its own protected folder instead of C:\Windows\Temp, where Users may
    // create files; looked up at run time, since older systems lack it.
    using TempPathCall = DWORD(WINAPI*)(DWORD, LPWSTR);
    static const auto temp_path2 = reinterpret_cast<TempPathCall>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W")));
    std::wstring result;
    auto call = [](DWORD size, wchar_t* buffer) { return temp_path2 ? temp_path2(size, buffer) : GetTempPathW(size, buffer); };
    if (!GrowingBufferCall(call, result))
      return LastError({});
    path = win32::Narrow(result);
    return Status::Ok();
  }

  Status ShellDelete(const std::string& path, bool permanent) override {
    if (permanent) {
      std::wstring target = LongPath(path);
      while (target.size() > 7 && target.back() == L'\\') target.pop_back();
      DWORD error = win32::RemoveTreeNoFollow(target);
      return error ? Status::Failure(WindowsErrorMessage(error, path)) : Status::Ok();
    }
    // The shell knows no "\\?\" forms: the Recycle Bin takes paths it can
    // name. The source is a list of names, each ending in NUL, the list in
    // a second NUL.
    std::wstring names = Widen(path);
    names.append(2, L'\0');
    SHFILEOPSTRUCTW operation{};
    operation.hwnd = nullptr;
    operation.wFunc = FO_DELETE;
    operation.pFrom = names.c_str();
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_ALLOWUNDO;
    int result = SHFileOperationW(&operation);
    if (result != 0) return Status::Failure(WindowsErrorMessage(static_cast<unsigned long>(result), path));
    return Status::Ok();
  }
};

}  // namespace

FileSystem& FileSystem::BuiltIn() {
  static Win32FileSystem instance;
  return instance;
}

}  // namespace volok::platform
