// Files known by what they are, not by their name: a run records the identity of
// every file it creates or moves aside, and later touches a file only when the name
// still leads to that very file, opened without following a link standing at it.
// Folders that ordinary users can write may be re-pointed at any time; a name alone
// proves nothing.
#pragma once
#include <windows.h>

#include "shared/raii.h"

// Volume serial number and file index: the same for every name of one file, kept by
// a rename on the same volume.
struct FileIdentity {
  DWORD volumeSerial = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
};

bool SameIdentity(const FileIdentity& a, const FileIdentity& b);
// Whether the identity names a file at all (a zeroed record names none).
bool IsKnownIdentity(const FileIdentity& identity);

// The identity (and, when asked, the attributes) of an open file or folder.
bool ReadIdentity(HANDLE handle, FileIdentity* identity, DWORD* attributes = nullptr);

// The same for a file reached through a folder on the volume `volumeSerial`: a way
// without links stays on one volume, so only the file's index is read. (Asking for
// the volume costs Wine a round trip to its mount manager, a millisecond a file.)
bool ReadIdentityOnVolume(HANDLE handle, DWORD volumeSerial, FileIdentity* identity, DWORD* attributes = nullptr);

// The attributes of an open file or folder.
bool ReadAttributes(HANDLE handle, DWORD* attributes);

// Opens the file or folder at `path` itself: a link standing at that name is opened
// as the link (FILE_FLAG_OPEN_REPARSE_POINT), never followed to its target. The
// share mode lets everyone else go on reading, writing and renaming.
UniqueHandle OpenNoFollow(const char* path, DWORD access);

// Deletes the file or empty folder at `path` when it is the one `identity` names:
// opened without following a link, compared, and deleted through that same handle,
// so nothing that took the name meanwhile is touched. True when it was deleted.
bool DeleteIfSame(const char* path, const FileIdentity& identity);
// The same where `volumeSerial` is known: the volume of the folder holding `path`,
// reached without links.
bool DeleteIfSameOnVolume(const char* path, const FileIdentity& identity, DWORD volumeSerial);
