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

#include <cstddef>

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

// The arguments of a command line that CommandLineToArgvW splits at the blanks alone.
struct PlainArguments {
  static constexpr int kMaxCount = 8;          // more than a valid line has
  static constexpr std::size_t kCapacity = 32768;  // the longest command line
  wchar_t text[kCapacity];
  const wchar_t* list[kMaxCount];
  int count = 0;
};

// Splits `commandLine` as CommandLineToArgvW does, the program's name left out, when
// the line is plain: the name quoted, or without any quotation mark, and followed by
// a blank or the end; no quotation mark after it; at most kMaxCount arguments. False
// for any other line (`split` then holds nothing useful).
bool SplitPlainArguments(const wchar_t* commandLine, PlainArguments* split);

// The whole run of the process; its end decides the exit status.
UninstallEnd RunUninstaller(HINSTANCE instance);
