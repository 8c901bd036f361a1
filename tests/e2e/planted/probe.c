/* A program that imports comctl32 the ordinary way, as the installer once did: the
   control case of the planted-library test. */
#include <windows.h>
#include <commctrl.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)commandLine;
  (void)show;
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
  return InitCommonControlsEx(&controls) ? 0 : 1;
}
