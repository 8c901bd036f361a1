// The journal of a run in progress: where it keeps the files it moved aside and which
// files it created, each with its identity. It lives in the registry under
// HKEY_LOCAL_MACHINE, where only administrators write, so that what a later start
// undoes cannot have been planted by anyone else. A run that ends normally deletes
// it; a run that was killed leaves it for the next start (RecoverInterruptedRun).
#pragma once
#include "shared/installer_state.h"

// Starts the journal of `state`'s run, replacing any earlier one: records every keep
// folder and every kept file planned so far and flushes the key to disk, so that all
// of it is durable before the first file is replaced. False when the key cannot be
// written (the run must not replace anything then).
bool BeginJournal(InstallerState& state);

// Appends one record while the journal is open (nothing otherwise). Records written
// after the start are not flushed one by one; the system writes them out shortly.
void JournalKeepFolder(InstallerState& state, int index);
void JournalKeptFile(InstallerState& state, int index);
void JournalCreatedFile(InstallerState& state, int index);

// Records, flushed, that the run has succeeded: a later start then finishes the run
// (deletes what it kept) instead of undoing it.
void MarkJournalSucceeded(InstallerState& state);

// Closes the journal and deletes it from the registry.
void EndJournal(InstallerState& state);

// Fills the run records of `state` (created files, kept files, keep folders) from a
// journal left in the registry and opens it; `succeeded` tells whether the run was
// marked as succeeded. False when there is none.
bool LoadJournal(InstallerState& state, bool* succeeded);
