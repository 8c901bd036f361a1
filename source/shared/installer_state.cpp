#include "shared/installer_state.h"

void SetErrorText(InstallerState& state, const char* message) {
  CopyPath(state.errorText, message);
}
