// What a run leaves behind once the worker has ended: a successful run keeps its
// files, a failed or cancelled one removes what it wrote and puts back what it moved
// aside. The progress page and the unattended installation both end a run through
// these; the installer's start undoes a run that was killed (RecoverInterruptedRun).
// A file is only ever deleted or moved back while its name still leads to the file the
// run recorded (engine/run_files.h), never through a link.
#pragma once
#include "shared/installer_state.h"

// After a failure or a cancel: deletes every file the run created, then puts every
// file it moved aside back under its own name, and removes its keep folders and its
// journal. Folders, the workpath file that replaced nothing, shortcuts and registry
// entries stay. Afterwards the run's records are empty, so a second call does nothing.
void UndoRun(InstallerState& state);

// After success: deletes the files the run moved aside, its keep folders and its
// journal. Afterwards the run's records are empty.
void CommitRun(InstallerState& state);

// At the installer's start, before the first page: undoes a run that a killed
// installer left in its journal (see engine/run_journal.h), unless another installer
// is running right now. `state` gives the registry view. True when a run was undone.
bool RecoverInterruptedRun(const InstallerState& state);
