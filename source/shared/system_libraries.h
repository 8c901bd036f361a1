// Libraries come from the system folder only. The installer runs elevated, usually
// from a Downloads folder that other programs and users can write: a DLL placed
// beside it must never be loaded into it. The executable therefore imports only
// known system DLLs (which Windows always takes from the system folder) and loads
// anything else by its full path.
#pragma once
#include <windows.h>

#include <cstddef>

// Restricts every later library load of this process to the system folder:
// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) where kernel32 has it
// (Windows 8, and 7 with update KB2533623), found with GetProcAddress; otherwise
// SetDllDirectoryA(""), which at least takes the current folder out of the search.
// Returns true when the first was available. Call it before anything else.
bool RestrictDllSearchToSystemFolder();

// Loads comctl32.dll by its full path in the system folder and registers the
// progress bar class with its InitCommonControlsEx, found with GetProcAddress.
// comctl32 is not a known DLL: imported statically it would be looked for beside
// the executable first, before WinMain runs. False when the library or the call is
// missing or fails.
bool InitProgressBarControls();

// The full path of a DLL in the system folder; false when it does not fit.
bool SystemLibraryPath(const char* name, char* path, std::size_t capacity);
