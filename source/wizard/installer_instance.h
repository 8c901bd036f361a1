// The process's one InstallerState, shared by the pages and the worker thread.
#pragma once
#include "shared/installer_state.h"

InstallerState& TheInstallerState();
