#include <windows.h>

#include "platform/file_system.h"
#include "platform/win32/wide.h"

namespace volok::platform {

namespace {

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

class Win32FileSystem final : public FileSystem {
 public:
  Status OpenFile(const std::string& path, FileAccess access, FileShare share,
                  std::unique_ptr<File>& file) override {
    bool reading = access == FileAccess::ReadExisting;
    DWORD disposition = reading ? OPEN_EXISTING : access == FileAccess::CreateAlways ? CREATE_ALWAYS : OPEN_ALWAYS;
    HANDLE handle = CreateFileW(Widen(path).c_str(), reading ? GENERIC_READ : GENERIC_WRITE, ShareMode(share),
                                nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return Status::Failure(WindowsErrorMessage(GetLastError(), path));
    if (access == FileAccess::AppendOrCreate) {
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
};

}  // namespace

FileSystem& FileSystem::BuiltIn() {
  static Win32FileSystem instance;
  return instance;
}

}  // namespace volok::platform
