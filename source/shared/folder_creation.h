// Creating folders with their missing parents, optionally giving the local Users
// group full control (inherited by everything later created inside).
#pragma once
#include <windows.h>
#include <aclapi.h>

#include "shared/progress_report.h"

// Creates `path` and every missing folder on the way. Normalises the caller's buffer
// in place (trailing separators removed, '/' turned into '\'). True when the folder
// exists afterwards. With an owner, a failure is shown in a box owned by it. With a
// report, each folder created is reported, and so is a failure (its sentence, the
// path and the system's error code).
bool CreateFolderPath(HWND owner, char* path, BYTE grantAccess, ProgressReport* report = nullptr);

// Creates one folder and adds the inheritable GENERIC_ALL entry for S-1-5-32-545 to
// its access list. 1 when the folder was created and opened, else 0 (last error set).
int CreateFolderWithUsersAccess(const char* path);

// The call that applies a folder's new access list. Tests replace it to see the list
// actually handed over (Wine accepts a folder's list but does not keep it).
using SetSecurityInfoFunction = DWORD(WINAPI*)(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL);
// Installs `function` (nullptr restores SetSecurityInfo); returns the previous one.
SetSecurityInfoFunction ReplaceSetSecurityInfo(SetSecurityInfoFunction function);
