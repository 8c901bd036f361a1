// What the command line asks for before any window exists: the usage, an installation
// without any window (/S), or the wizard, perhaps with a log (/LOG).
#pragma once
#include "shared/command_line.h"
#include "shared/installer_state.h"

// Reads the process's command line (GetCommandLineW, split by CommandLineToArgvW and
// converted to the ANSI code page). Returns only when the wizard is to run, with the
// log open when one was asked for; every other start ends the process here:
// /? after the usage box (0), /S after the installation (0 or 1), and a command line
// that cannot be acted on (2) after the usage box, or without any window under /S.
void StartFromCommandLine(InstallerState& state);

// The installation /S asks for, on the calling thread and without any window: the
// folders (given, or the settings page's defaults) created as the settings page creates
// them, then the worker, then UndoRun or CommitRun. Ends the process with 0 or 1.
[[noreturn]] void RunUnattended(InstallerState& state, const CommandLineOptions& options);
