// The installed program's entry in the Windows list of installed programs.
#pragma once
#include "shared/installer_state.h"

// Writes HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmorix.
// False after any failure (errorText then set).
bool RegisterUninstallEntry(InstallerState& state);
