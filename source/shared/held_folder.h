// Work inside folders that someone else may change, by handle instead of by name. A
// folder is opened relative to its already-held parent, without following a reparse
// point, checked to be a real folder on the expected volume, and held with an access
// that counts in the system's sharing checks (listing and traversal) and without
// delete sharing, so nobody can rename it or put a link in its place while it is held.
// Files and folders inside it are then created, opened, renamed and deleted relative
// to that handle (the native calls with a root directory, rename and delete by the
// file's own handle), never by resolving a path again.
#pragma once
#include <windows.h>

#include "shared/raii.h"

// What a folder is held with: enough to list it, pass through it, add to it and read
// its owner. Listing access counts in sharing checks (attribute access alone does not).
constexpr DWORD kHeldFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY |
                                    FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;

enum class ChildResult {
  Done,
  Missing,     // nothing stands at the name
  Link,        // a reparse point stands at the name
  NotAFolder,  // a file stands where a folder is wanted
  Exists,      // (create) something stands at the name already
  Failed,      // any other refusal; the last error tells why
};

// Opens the root of a volume ("C:\", "\\server\share\"): the system's, held without
// pinning it.
UniqueHandle OpenVolumeRoot(const char* root);

// Opens and holds folder `name` (one path component) inside `parent`. A link, a file,
// or a folder on a volume other than `volumeSerial` (0: any) is refused.
ChildResult OpenChildFolder(HANDLE parent, const char* name, DWORD volumeSerial, UniqueHandle* folder);

// Creates folder `name` inside `parent` with `descriptor` (null: default security) and
// `attributes` (hidden, say), failing when anything stands at the name, and holds it
// as OpenChildFolder does.
ChildResult CreateChildFolder(HANDLE parent, const char* name, PSECURITY_DESCRIPTOR descriptor, DWORD attributes,
                              UniqueHandle* folder);

// Creates file `name` inside `parent`, exclusively (anything at the name, a link
// included, makes it fail), opened for writing and deletion.
ChildResult CreateChildFile(HANDLE parent, const char* name, UniqueHandle* file);

// Opens file or empty folder `name` inside `parent` itself, never following a link
// standing at the name, with `access` (DELETE and attribute access are always
// added). The share mode lets others go on reading and writing, not deleting.
ChildResult OpenChild(HANDLE parent, const char* name, DWORD access, UniqueHandle* file);

// OpenChild (no access beyond it) for a file about to be moved away. A file that
// another program holds without sharing deletion is waited for (RetryWhileHeld);
// still held then, it fails with ERROR_SHARING_VIOLATION.
ChildResult OpenChildToMove(HANDLE parent, const char* name, UniqueHandle* file);

// What the listing of `parent` shows at `name`: a file (Done, its name as spelt on disk
// in `actualName`, kPathCapacity bytes), nothing (Missing), a link (Link) or a folder
// (Exists).
ChildResult FindChildFile(HANDLE parent, const char* name, char* actualName);

// Gives the open `file` the name `newName` inside `folder` (same volume), never
// replacing anything standing there.
bool RenameInto(HANDLE file, HANDLE folder, const char* newName);

// Deletes the open file or empty folder `file` (opened with DELETE); a read-only file
// loses that attribute first.
bool DeleteOpen(HANDLE file);

// The number of names the open file has (1 for a file nobody linked to).
DWORD LinkCount(HANDLE file);

// Whether the open handle is a real folder (no reparse point).
bool IsRealFolder(HANDLE handle);
