// The installer's switches, read from the arguments as CommandLineToArgvW splits the
// command line (each switch is one argument, so a folder with spaces travels in
// quotation marks). Portable: no <windows.h>; the caller converts the arguments to the
// ANSI code page first.
//
//   VelmorixSetup.exe /S [/D=<install folder>] [/WORKDIR=<work folder>]
//                     [/NODESKTOP] [/NOSTARTMENU] [/LOG=<file>]
//   VelmorixSetup.exe [/LOG=<file>]        the wizard, with a log
//   VelmorixSetup.exe /?                   the usage
#pragma once
#include "shared/path_buffer.h"

enum class StartMode {
  Wizard,      // no switch, or /LOG alone
  Unattended,  // /S
  Usage,       // /? alone
  Invalid,     // anything else; nothing may be written
};

enum class CommandLineError {
  None,
  UnknownSwitch,       // not one of the switches, or a value where none belongs
  MissingValue,        // /D, /WORKDIR or /LOG without "=<value>"
  RelativeFolder,      // a folder that is not a full path (C:\..., \\server\share\...)
  UnfitPath,           // longer than a path buffer holds, a character no path may hold, a bare root
  RepeatedSwitch,      // the same switch twice
  Unrepresentable,     // characters the ANSI code page cannot hold
  UsageNotAlone,       // /? together with anything else
  NeedsUnattended,     // /D, /WORKDIR, /NODESKTOP, /NOSTARTMENU without /S
};

struct CommandLineOptions {
  StartMode mode = StartMode::Wizard;
  CommandLineError error = CommandLineError::None;
  int errorArgument = -1;  // index of the first argument at fault; -1 for the whole line
  // /S was given, even if the command line is invalid otherwise: then no window at all.
  bool unattended = false;
  bool noDesktopShortcut = false;
  bool noStartMenuShortcut = false;
  // Empty when not given. The folders are full paths; the log path may be relative.
  char installDir[kPathCapacity] = {};
  char workDir[kPathCapacity] = {};
  char logPath[kPathCapacity] = {};
};

// Reads `count` arguments, the program's name not among them. A null argument stands
// for one that could not be converted to the ANSI code page without loss.
CommandLineOptions ParseCommandLine(const char* const* arguments, int count);

// Whether `path` is a full path of a folder or file (a drive letter, a colon and a
// separator, or \\server\share) with something after its root.
bool IsFullPath(const char* path);
