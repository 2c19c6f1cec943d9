// Functions of DLLs that are not Known DLLs, looked up when first needed and
// only in the system folder. A static import of such a DLL would be resolved
// by the loader from the executable's own folder before main() runs, so a
// "version.dll" planted beside a downloaded setup.exe would run elevated.
// Include only from win32/*.cpp, after <windows.h>.
#pragma once

namespace volok::platform::win32 {

// The module `name` (e.g. L"version.dll") loaded from the system folder
// alone, kept for the process's life; null when it cannot be loaded.
HMODULE SystemLibrary(const wchar_t* name);

// The function `function` of the system DLL `library`, typed as `Fn`;
// null when either is missing (the caller then fails as the call would).
template <typename Fn>
Fn SystemFunction(const wchar_t* library, const char* function) {
  HMODULE module = SystemLibrary(library);
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, function))) : nullptr;
}

}  // namespace volok::platform::win32
