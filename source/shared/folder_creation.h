// Creating folders with their missing parents, optionally giving the local Users
// group full control (inherited by everything later created inside).
#pragma once
#include <windows.h>
#include <aclapi.h>

#include "shared/held_folder.h"
#include "shared/progress_report.h"
#include "shared/raii.h"

// Creates `path` and every missing folder on the way (shared/folder_walk.h).
// Normalises the caller's buffer in place (trailing separators removed, '/' turned
// into '\'). None when the folder exists afterwards; else the cause of the failure,
// for the caller to show (FailureText). With a report, each folder created is
// reported, and so is a failure (its cause, the path and the system's error code).
FailureCause CreateFolderPath(char* path, BYTE grantAccess, ProgressReport* report = nullptr);

// Whether a folder on the way to `path` (below its root, `path` itself included) is a
// link, a junction or a mount point: a folder reached through one lies elsewhere than
// its path says. Walked folder by folder as far as they exist ('\' and '/' both
// separate). A path too long for a path buffer counts as linked.
bool PassesThroughLink(const char* path);

// When PassesThroughLink(path): a failure ChosenFolderThroughLink to
// `report` (when given); true then.
bool RefuseFolderThroughLink(const char* path, ProgressReport* report);

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
