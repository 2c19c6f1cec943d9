/* Imports the version API and the common controls statically, as setup.exe
   once did: the proof that the loader takes such a DLL from the program's
   folder at all. */
#include <windows.h>
#include <commctrl.h>

int main(void) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
  DWORD handle = 0;
  InitCommonControlsEx(&controls);
  return GetFileVersionInfoSizeW(L"C:\\windows\\system32\\kernel32.dll", &handle) ? 0 : 1;
}
