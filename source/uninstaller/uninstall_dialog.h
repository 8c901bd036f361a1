// The uninstaller's dialog: what will be removed and from where, the check box for the
// work folder's data, Remove and Cancel; then the progress with the current file; then
// the result. The removal runs on a thread of its own while the dialog stays live.
#pragma once
#include <windows.h>

#include "engine/installation_record.h"
#include "engine/installation_removal.h"
#include "shared/progress_report.h"

// Shows the dialog until the user closes it; the removal's result, or Cancelled when
// the user closed it before removing. `log` hears of the removal too.
RemovalEnd ShowUninstallDialog(HINSTANCE instance, const InstallationRecord& record, bool is64BitWindows,
                                  const char* launcher, ProgressReport& log, bool* started);
