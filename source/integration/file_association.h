// The .qzp file type and the open commands of the installed program.
#pragma once
#include "shared/installer_state.h"

// Writes the five class keys under HKEY_CLASSES_ROOT. False after any failure
// (errorText then set); every key is attempted.
bool RegisterFileAssociation(InstallerState& state);
