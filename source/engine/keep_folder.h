// The folder a run moves the earlier files it replaces into. Never inside the
// destination (the work folder and what is unpacked into it are the Users group's):
// at the root of the destination's volume, as Windows Installer keeps its rollback
// files in Config.Msi, so a rename moves each file without copying it. Its name is
// random and it is created exclusively, hidden, owned by and open to Administrators
// and SYSTEM alone (a protected list, nothing inherited); each kept file inside has a
// random name too. Before anything is taken out of it, it is opened again without
// following a link and checked: a real folder, the one the run created, with a
// trusted owner.
#pragma once
#include <windows.h>

#include "engine/install_run.h"
#include "shared/raii.h"

// The security a keep folder is created with, as SDDL.
extern const char kKeepFolderSecurity[];

// The root of `folder`'s volume ("C:\", "\\server\share\") in `out` (kPathCapacity).
bool VolumeRootOf(const char* folder, char* out);

// Gives `folder` (serving `folder.root`) a random name at the root of its volume,
// unless it has one. Nothing is created.
bool NameKeepFolder(KeepFolder& folder);

// Creates the named keep folder, which must lie on `volumeSerial`, and holds it.
// False when anything stands at its name or a check fails.
bool MakeKeepFolder(KeepFolder& folder, DWORD volumeSerial);

// Opens the named keep folder again into `held` and checks it (a folder created by
// this run when its identity is known, always a real folder with a trusted owner).
// False when it is missing or fails a check.
bool OpenKeepFolder(const KeepFolder& folder, UniqueHandle* held);

// Whether the open file or folder belongs to Administrators, SYSTEM or the user
// running this process.
bool HasTrustedOwner(HANDLE handle);

// Deletes the keep folder when it is the run's and empty. When it cannot go now and
// `filesPending` (a kept file in it is to be deleted at the restart), it is scheduled
// for the restart too. False when it stays.
bool RemoveKeepFolder(const KeepFolder& folder, bool filesPending);
