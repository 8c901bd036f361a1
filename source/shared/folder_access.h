// Making one folder, optionally giving the local Users group full control (inherited
// by everything later created inside), and the seams through which tests see it.
#pragma once
#include <windows.h>

#include "shared/held_folder.h"
#include "shared/raii.h"

// Creates one folder with an access list holding the inheritable GENERIC_ALL entry for
// S-1-5-32-545, given in the creation call (the system adds the parent's inheritable
// entries). 1 when the folder was created, else 0 (last error set).
int CreateFolderWithUsersAccess(const char* path);

// Creates folder `name` inside the held folder `parent`, relative to the handle (see
// shared/held_folder.h), with the Users entry when `grantAccess`, else with default
// security, and holds it in `folder`; `path` is its full path, for the trace. Anything
// standing at the name makes it fail (Exists).
ChildResult CreateFolderIn(HANDLE parent, const char* name, const char* path, BYTE grantAccess, UniqueHandle* folder);

// Told of each folder CreateFolderIn is about to make, with the security attributes it
// is made with (none for default security). Tests install one to see the access lists
// handed over; nullptr removes it. Returns the previous one.
using FolderObserver = void (*)(const char* path, const SECURITY_ATTRIBUTES* attributes);
FolderObserver ObserveFolderCreation(FolderObserver observer);

// The call that creates every folder by name, given the security attributes it is made with
// (none for default security). Tests replace it to see the access list handed over
// (Wine accepts a folder's list but does not keep it).
using CreateDirectoryFunction = BOOL(WINAPI*)(LPCSTR, LPSECURITY_ATTRIBUTES);
// Installs `function` (nullptr restores CreateDirectoryA); returns the previous one.
CreateDirectoryFunction ReplaceCreateDirectory(CreateDirectoryFunction function);
