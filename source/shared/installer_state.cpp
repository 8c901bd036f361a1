#include "shared/installer_state.h"

void ReportFailure(InstallerState& state, const char* message, const char* path, unsigned long systemError) {
  CopyPath(state.errorText, message);
  ProgressOf(state).StepFailed(message, path, systemError);
}

void SetErrorText(InstallerState& state, const char* message) { ReportFailure(state, message, nullptr, 0); }

ProgressReport& ProgressOf(const InstallerState& state) {
  static ProgressReport nobody;
  return state.progress != nullptr ? *state.progress : nobody;
}
