// The process's one InstallerState, shared by the pages and the worker thread, and
// its one run log (closed unless the command line asked for one).
#pragma once
#include "wizard/installer_state.h"
#include "shared/run_log.h"

InstallerState& TheInstallerState();
RunLog& TheRunLog();
