// The installed program's entry in the Windows list of installed programs.
#pragma once
#include <windows.h>

#include "integration/registry_writer.h"
#include "integration/removal.h"
#include "shared/path_buffer.h"
#include "shared/progress_report.h"

// What the entry says of one installation.
struct UninstallEntry {
  bool is64BitWindows;  // the registry view written
  const char* installDir;
  // The shortcuts' paths, for the uninstaller: null when not chosen, empty when chosen
  // but not made.
  const char* desktopShortcut;
  const char* startMenuShortcut;  // kept in the value "PanelShortcut"
  unsigned long estimatedSizeKiB;
};

// Writes HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmorix.
// False after any failure, reported to `progress` with its cause.
bool RegisterUninstallEntry(const UninstallEntry& entry, ProgressReport& progress);

// Records, before the entry is written, the key and each of its values as they stand.
// ERROR_SUCCESS, or the first failed read.
LONG RecordUninstallEntryReplaced(bool is64BitWindows, ReplacedKey& replaced);

// Takes back the entry written for installDir, only while it is still this
// installation's ("InstallLocation" is installDir and "UninstallString" starts its
// Uninstall.exe; with a record, either may also still be as the record has it, for a
// write that stopped before it): without a record (or when the write created the key)
// the whole key goes; with a record of a key that was there, each value gets back
// what it replaced.
RemovalResult RemoveUninstallEntry(bool is64BitWindows, const char* installDir, const ReplacedKey* replaced);
