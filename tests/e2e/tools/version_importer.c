/* Imports the version API statically, as setup.exe once did: the proof that
   the loader takes a "version.dll" from the program's folder. */
#include <windows.h>

int main(void) {
  DWORD handle = 0;
  return GetFileVersionInfoSizeW(L"C:\\windows\\system32\\kernel32.dll", &handle) ? 0 : 1;
}
