/* A comctl32.dll to plant beside a program: when it is loaded it creates the file
   named by VELMORIX_PLANTED_MARK, so a test sees from outside that it ran. It
   exports the two calls a program may import, doing nothing. */
#include <windows.h>
#include <commctrl.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    char mark[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("VELMORIX_PLANTED_MARK", mark, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      HANDLE file = CreateFileA(mark, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
      if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
  }
  return TRUE;
}

BOOL WINAPI PlantedInitCommonControlsEx(const INITCOMMONCONTROLSEX* controls) {
  (void)controls;
  return TRUE;
}

void WINAPI PlantedInitCommonControls(void) {}
