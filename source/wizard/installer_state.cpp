#include "wizard/installer_state.h"

void BuildRunRequest(InstallerState& state, ProgressReport* progress) {
  RunRequest& request = state.request;
  request.mode = state.modeRun ? RunMode::RunOnly : state.modeInstall ? RunMode::Install : RunMode::Reinstall;
  CopyPath(request.installDir, state.installDir);
  CopyPath(request.workDir, state.workDir);
  request.makeDesktopShortcut = state.makeDesktopShortcut != 0;
  request.makeStartMenuShortcut = state.makeQuickLaunchShortcut != 0;
  request.is64BitWindows = state.is64BitWindows != 0;
  request.progress = progress;
  request.cancelRequested = &state.cancelRequested;
  request.extractionPaused = &state.extractionPaused;
}

InstallRun RunOf(InstallerState& state) { return InstallRun(state.request, state.run); }
