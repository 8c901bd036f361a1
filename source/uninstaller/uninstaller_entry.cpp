// The uninstaller's entry point, its one way out.
#include <windows.h>

#include "shared/system_libraries.h"
#include "uninstaller/uninstaller.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // Before anything can load a library: only the system folder is searched.
  RestrictDllSearchToSystemFolder();
  return UninstallExitStatus(RunUninstaller(instance));
}
