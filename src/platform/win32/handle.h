// Move-only owners of Win32 handles, so no path forgets to close one.
// Include only from win32/*.cpp, after <windows.h>.
#pragma once

#include <utility>

namespace volok::platform::win32 {

// A kernel handle closed with CloseHandle. Both null and
// INVALID_HANDLE_VALUE mean "none", as the APIs disagree on which they return.
class ScopedHandle final {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle) : FHandle(handle) {}
  ~ScopedHandle() { Close(); }
  ScopedHandle(ScopedHandle&& other) noexcept : FHandle(std::exchange(other.FHandle, nullptr)) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) {
      Close();
      FHandle = std::exchange(other.FHandle, nullptr);
    }
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  bool valid() const { return FHandle != nullptr && FHandle != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return FHandle; }

 private:
  void Close() {
    if (valid()) CloseHandle(FHandle);
    FHandle = nullptr;
  }

  HANDLE FHandle = nullptr;
};

// A FindFirstFileW search, closed with FindClose.
class ScopedFind final {
 public:
  explicit ScopedFind(HANDLE handle) : FHandle(handle) {}
  ~ScopedFind() {
    if (valid()) FindClose(FHandle);
  }
  ScopedFind(const ScopedFind&) = delete;
  ScopedFind& operator=(const ScopedFind&) = delete;

  bool valid() const { return FHandle != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return FHandle; }

 private:
  HANDLE FHandle;
};

}  // namespace volok::platform::win32
