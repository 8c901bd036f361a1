// What the command line asks for before any window exists: the usage, an installation
// without any window (/S), or the wizard, perhaps with a log (/LOG).
#pragma once
#include "shared/command_line.h"
#include "wizard/installer_state.h"

#include "wizard/exit_status.h"

// Reads the process's command line (GetCommandLineW, split by CommandLineToArgvW and
// converted to the ANSI code page). True when the wizard is to run, with the log open
// when one was asked for. Otherwise the start is over and *end says how the process
// ends: /? after the usage box, /S after the installation, and a command line that
// cannot be acted on after the usage box, or without any window under /S.
bool StartFromCommandLine(InstallerState& state, ProcessEnd* end);

// The installation /S asks for, on the calling thread and without any window: the
// folders (given, or the settings page's defaults) created as the settings page creates
// them, then the worker, then UndoRun or CommitRun. Returns Installed or InstallFailed.
ProcessEnd RunUnattended(InstallerState& state, const CommandLineOptions& options);
