// The installer's entry point: probe the platform, create the hidden main window
// (which opens the mode page), and run the message loop.
#include <windows.h>

#include "shared/platform.h"
#include "shared/system_libraries.h"
#include "wizard/installer_instance.h"
#include "wizard/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // Before anything can load a library: only the system folder is searched.
  RestrictDllSearchToSystemFolder();
  InstallerState& state = TheInstallerState();
  state.is64BitWindows = Detect64BitWindows() ? 1 : 0;
  state.instanceHandle = instance;

  // The progress page's bars are common controls; register their class up front
  // (comctl32 is loaded from the system folder by its full path).
  InitProgressBarControls();

  if (!CreateMainWindow(instance)) return 0;
  return RunMessageLoop();
}
