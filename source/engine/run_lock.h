// One run at a time. The lock is a named mutex that only Administrators and SYSTEM may
// open, owned by Administrators; a mutex of that name made first by anybody else (a
// squatter) does not count as free, so a user can neither switch off the recovery of
// a killed run nor slip a second run in beside one.
#pragma once

// Takes the lock for the rest of the process (again: true at once). False when
// another process holds it, or the name is taken by an object this process cannot
// trust.
bool TakeRunLock();

// Hands the lock on before this process ends: the installer's mode page, before it
// starts the uninstaller, which takes the lock itself.
void ReleaseRunLock();
