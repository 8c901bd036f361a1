// How the process ends, and the one place that decides the exit status of each end.
// The wizard's ends give 0; an unattended installation tells its caller whether it
// installed (0, or 3010 when a restart finishes it), failed (1) or was given a command
// line it cannot act on (2). Either ends with 1618 when another installer is running.
#pragma once

enum class ProcessEnd {
  WizardClosed,        // a page's close reached the main window
  WizardNotStarted,    // the main window could not be created
  UsageShown,          // /? answered with the usage
  Installed,           // /S: the installation succeeded
  InstallFailed,       // /S: the installation failed, what it wrote is undone
  InvalidCommandLine,  // nothing was written
  InstalledRestartPending,  // /S: installed; a replaced file in use goes at the next restart
  AnotherRunActive,    // another installer holds the run lock: nothing was touched
};

int ExitStatusOf(ProcessEnd end);

// Writes the log's last line for the end, if a log is open, and returns the end's
// status. Only the entry point ends the process, with this status.
int FinishProcess(ProcessEnd end);
