#include "wizard/installer_instance.h"

namespace {
// Holds its start values from process start; never copied.
InstallerState g_installerState;
RunLog g_runLog;
}  // namespace

InstallerState& TheInstallerState() { return g_installerState; }

RunLog& TheRunLog() { return g_runLog; }
