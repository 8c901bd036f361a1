// The journal of a run in progress: where it keeps the files it moved aside and which
// files it created, each with its identity. It lives in the registry under
// HKEY_LOCAL_MACHINE, where only administrators write, so that what a later start
// undoes cannot have been planted by anyone else. Every step is recorded before it is
// taken (a keep folder's name before the folder is made, a kept file's name before it
// moves, a created file's path before it exists, what an integration step is about
// to replace before it is taken: engine/run_integration.h), so that a run killed between any
// two of its steps is finished or undone exactly by the next start. A run that ends
// normally deletes it; a run that was killed leaves it for the next start
// (RecoverInterruptedRun). Every write is checked: a step whose record did not reach
// the journal is not taken.
#pragma once
#include <cstddef>
#include <memory>

#include "engine/install_run.h"

// Where the journal lies, for messages: "HKLM\Software\VelmorixSetup\Run".
extern const char kRunJournalKey[];

// Starts the journal of the run, replacing any earlier one: records every keep
// folder named and every kept file planned so far and flushes the key to disk, so that
// all of it is durable before the first file is replaced. False when the key cannot be
// written (the run must not replace anything then).
bool BeginJournal(const InstallRun& run);

// Writes one record while the journal is open; false when the journal is open and the
// write failed (true when no journal is kept: nothing to record). Records written
// after the start are not flushed one by one; the system writes them out shortly.
bool JournalKeepFolder(const InstallRun& run, int index);
bool JournalKeptFile(const InstallRun& run, int index);
// The file about to be created at `path` as created file number createdFileCount,
// before its identity is known.
bool JournalCreatedIntent(const InstallRun& run, const char* path);
bool JournalCreatedFile(const InstallRun& run, int index);
// The same for folders: before one is created (as number createdFolderCount), and once
// it is.
bool JournalFolderIntent(const InstallRun& run, const char* path);
bool JournalCreatedFolder(const InstallRun& run, int index);

// The record `name` of a step outside the files and folders (an integration step:
// what it is about to replace), `size` bytes, written and flushed before the step is
// taken. True when no journal is kept.
bool JournalStep(const InstallRun& run, const char* name, const void* data, std::size_t size);

// Reads the step record `name` of the open journal into a new buffer; false when
// there is none (or no journal).
bool ReadJournalStep(const InstallRun& run, const char* name, std::unique_ptr<unsigned char[]>* data,
                     std::size_t* size);

// Records, flushed, that the run has succeeded: a later start then finishes the run
// (deletes what it kept) instead of undoing it.
bool MarkJournalSucceeded(const InstallRun& run);

// Records, flushed, that kept files are left to be deleted at the next restart: the
// journal then stays, and the next start finishes what is left.
bool MarkJournalRestartPending(const InstallRun& run);

// Closes the journal and deletes it from the registry: ERROR_SUCCESS, or the
// registry's code when the key stays.
LONG EndJournal(const InstallRun& run);

enum class JournalFound { None, Loaded, Unreadable };

// Fills the records of `run` (created files, kept files, keep folders) from a
// journal left in the registry and opens it; `succeeded` tells whether the run was
// marked as succeeded. Unreadable: a journal stands there but cannot be opened.
JournalFound LoadJournal(const InstallRun& run, bool* succeeded);
