// The installation worker: unpacks both payload archives and, when installing,
// ties the program into Windows; reports through the state's ProgressReport and
// ends with its Finished.
#pragma once
#include <windows.h>

#include "shared/installer_state.h"

// Thread procedure. `parameter` is the InstallerState* to work on. Returns 1.
DWORD WINAPI InstallWorker(LPVOID parameter);

// The module whose "Binary" resources 109 and 110 the worker unpacks: nullptr (the
// default) is the running executable. Tests point it at a copy loaded as a data file.
void SetPayloadModule(HMODULE module);

// Whether both payload archives are there and sound, checked as the worker checks them
// before it writes anything. A failure is recorded as the worker records it.
bool CheckPayload(InstallerState& state);
