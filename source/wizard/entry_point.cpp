// The installer's entry point: probe the platform, act on the command line (an
// unattended installation, the usage), else create the hidden main window (which
// opens the mode page) and run the message loop.
#include <windows.h>

#include <cstdlib>

#include "engine/install_worker.h"
#include "shared/platform.h"
#include "shared/system_libraries.h"
#include "wizard/exit_status.h"
#include "wizard/installer_instance.h"
#include "wizard/main_window.h"
#include "wizard/unattended_install.h"

namespace {

// A close of the wizard ends the process at once, through the runtime's normal end
// (exit handlers and static destructors run), without waiting for the worker thread.
void EndWizard(ProcessEnd end) { std::exit(FinishProcess(end)); }

}  // namespace

// The one place the process ends: WinMain returns the status of every other end.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // Before anything can load a library: only the system folder is searched.
  RestrictDllSearchToSystemFolder();
  InstallerState& state = TheInstallerState();
  state.is64BitWindows = Detect64BitWindows() ? 1 : 0;
  state.instanceHandle = instance;
  ProcessEnd end = ProcessEnd::WizardClosed;
  if (!StartFromCommandLine(state, &end)) return FinishProcess(end);
  // The window, the recovery and the pages take a while: a compressed payload starts
  // decoding meanwhile, into memory only, on one core (the other is the pages').
  StartPayloadDecoding();

  if (!CreateMainWindow(instance, &EndWizard)) return ExitStatusOf(ProcessEnd::WizardNotStarted);
  return RunMessageLoop();
}
