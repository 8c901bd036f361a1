// Uninstall.exe: removes the installation its record describes (engine/
// installation_removal.h), unattended or through its dialog.
//
//   Uninstall.exe [/S] [/REMOVEDATA] [/LOG=<file>]
//
// It never works from the file it was started as (that file lies in the install
// folder, which users may be able to write, and is itself removed): it copies itself
// into a folder of its own that only administrators can open, runs the copy, waits
// for it and ends with the copy's status, so a caller learns the real result.
#pragma once
#include <windows.h>

#include "shared/path_buffer.h"

enum class UninstallEnd {
  Removed,             // 0
  Failed,              // 1: nothing removed, everything put back; or no installation found
  InvalidCommandLine,  // 2
  RestartPending,      // 3010: removed; a file in use goes at the next restart
  AnotherRunActive,    // 1618: an installation or removal holds the run lock
  Cancelled,           // 1602: the user cancelled in the dialog; nothing removed
};

int UninstallExitStatus(UninstallEnd end);

struct UninstallOptions {
  bool unattended = false;
  bool removeData = false;
  // Set on the copy's command line: this process is the copy and does the work.
  bool fromCopy = false;
  char logPath[kPathCapacity] = {};
};

// The switch the original hands to its copy.
extern const wchar_t kFromCopySwitch[];

// Reads the arguments (the program's name not among them); false for an unknown
// switch, a repeated one, or /LOG without a value.
bool ParseUninstallArguments(const wchar_t* const* arguments, int count, UninstallOptions* options);

// The whole run of the process; its end decides the exit status.
UninstallEnd RunUninstaller(HINSTANCE instance);
