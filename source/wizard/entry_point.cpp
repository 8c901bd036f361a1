// The installer's entry point: probe the platform, create the hidden main window
// (which opens the mode page), and run the message loop.
#include <windows.h>
#include <commctrl.h>

#include "shared/platform.h"
#include "wizard/installer_instance.h"
#include "wizard/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  InstallerState& state = TheInstallerState();
  state.is64BitWindows = Detect64BitWindows() ? 1 : 0;
  state.instanceHandle = instance;

  // The progress page's bars are common controls; register their class up front.
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  if (!CreateMainWindow(instance)) return 0;
  return RunMessageLoop();
}
