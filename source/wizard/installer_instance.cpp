#include "wizard/installer_instance.h"

#include <new>

namespace {
// The record's start values are not all zero (Install is chosen, both shortcuts are
// asked for), so as a plain global it would be constant-initialised into the
// executable's initialised data, 260 KB of it the empty list of created files. It is
// built instead in zero-filled storage, which takes no room in the file, by the
// program's static initialisation: before WinMain, so it still holds its start values
// from the moment the installer's own code starts. It lives until the process ends.
alignas(InstallerState) unsigned char g_storage[sizeof(InstallerState)];
InstallerState* const g_installerState = new (g_storage) InstallerState();
RunLog g_runLog;
}  // namespace

InstallerState& TheInstallerState() { return *g_installerState; }

RunLog& TheRunLog() { return g_runLog; }
