// Creating folders with their missing parents, optionally giving the local Users
// group full control (inherited by everything later created inside).
#pragma once
#include <windows.h>
#include <aclapi.h>

#include "shared/folder_access.h"
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
