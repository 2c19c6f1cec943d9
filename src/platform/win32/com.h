// Ownership of COM interface pointers and BSTRs, and COM errors as text.
// Include only from win32/*.cpp, after <windows.h> and <ole2.h>.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace volok::platform::win32 {

// Owns one reference to a COM interface.
template <class T>
class ComPtr final {
 public:
  ComPtr() = default;
  // Takes over a reference the caller already holds.
  explicit ComPtr(T* pointer) : FPointer(pointer) {}
  ComPtr(const ComPtr& other) : FPointer(other.FPointer) {
    if (FPointer) FPointer->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : FPointer(std::exchange(other.FPointer, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(FPointer, other.FPointer);
    return *this;
  }
  ~ComPtr() { Reset(); }

  void Reset() {
    if (FPointer) std::exchange(FPointer, nullptr)->Release();
  }
  T* Get() const { return FPointer; }
  T* operator->() const { return FPointer; }
  explicit operator bool() const { return FPointer != nullptr; }
  // For out-parameters: releases what is held and lends the slot.
  T** Receive() {
    Reset();
    return &FPointer;
  }
  // Another interface of the same object, empty when it has none.
  template <class U>
  ComPtr<U> As(const IID& iid) const {
    ComPtr<U> other;
    if (FPointer) FPointer->QueryInterface(iid, reinterpret_cast<void**>(other.Receive()));
    return other;
  }

 private:
  T* FPointer = nullptr;
};

// Owns one BSTR.
class Bstr final {
 public:
  Bstr() = default;
  explicit Bstr(std::wstring_view text)
      : FText(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(FText); }

  BSTR Get() const { return FText; }
  BSTR* Receive() {
    SysFreeString(FText);
    FText = nullptr;
    return &FText;
  }
  std::wstring_view View() const { return FText ? std::wstring_view(FText, SysStringLen(FText)) : std::wstring_view(); }

 private:
  BSTR FText = nullptr;
};

// The message of a failed COM call: the object's own error description when
// it left one for this thread, otherwise the system's text for the code.
std::string ComErrorMessage(HRESULT result);

}  // namespace volok::platform::win32
