#include "shared/installer_state.h"

void SetErrorText(InstallerState& state, const char* message) {
  CopyPath(state.errorText, message);
}

ProgressReport& ProgressOf(const InstallerState& state) {
  static ProgressReport nobody;
  return state.progress != nullptr ? *state.progress : nobody;
}
