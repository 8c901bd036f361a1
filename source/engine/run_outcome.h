// What a run leaves behind once the worker has ended: a successful run keeps its
// files, a failed or cancelled one removes what it wrote and puts back what it moved
// aside. The progress page and the unattended installation both end a run through
// these; the installer's start undoes a run that was killed (RecoverInterruptedRun).
// A file is only ever deleted or moved back while its name still leads to the file the
// run recorded (engine/run_files.h), never through a link.
#pragma once
#include "engine/install_run.h"

// After a failure or a cancel: takes back the run's integration steps its journal
// holds (engine/run_integration.h: the installation's record, the association, the
// uninstall entry, the shortcuts), deletes every file the run created (the workpath
// file among them), then puts every file it moved aside back under its own name,
// removes the folders its extraction made (while empty) and its keep folders and its
// journal. The install and work folders made for the run just before it are among
// its folders and go too, once empty.
// Afterwards the run's records are empty, so a second call does nothing.
void UndoRun(const InstallRun& run);

// As soon as a run has succeeded (the worker calls it before it reports its end):
// from then on a run that is killed is finished at the next start, not undone. False
// when the journal did not take the mark (the run must then count as failed).
bool MarkRunSucceeded(const InstallRun& run);

// After success: marks the run as succeeded if that is not done yet, then deletes the
// files the run moved aside, its keep folders and its journal. A kept file that cannot
// be deleted now (in use) is scheduled for deletion at the next restart, reported to
// the run's receiver, and sets run.record.restartPending; the journal then stays, marked,
// for the next start to finish. Afterwards the run's records are empty.
void CommitRun(const InstallRun& run);

enum class RunStart {
  Free,           // no run was left behind
  Recovered,      // a killed run was undone, or finished when it had succeeded
  Busy,           // another installer holds the run lock: nothing was touched
  Unrecoverable,  // a journal stands there but cannot be read
};

// At the installer's start, before the first page: takes the run lock (engine/
// run_lock.h) for the rest of the process, then undoes a run that a killed installer
// left in its journal (see engine/run_journal.h), or finishes it when it had
// succeeded. Every folder and file is opened and checked again first. The journal is
// read in the 64-bit registry view when `is64BitWindows`; what the recovery takes back
// or cannot goes to `listener` (may be null).
RunStart RecoverInterruptedRun(bool is64BitWindows, ProgressReport* listener);
