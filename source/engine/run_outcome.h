// What a run leaves behind once the worker has ended: a successful run keeps its
// files, a failed or cancelled one removes what it wrote. The progress page and the
// unattended installation both end a run through these.
#pragma once
#include "shared/installer_state.h"

// After a failure or a cancel: deletes every file the extraction recorded. Folders,
// the workpath file, shortcuts and registry entries stay.
void UndoRun(InstallerState& state);

// After success: makes the run's changes final.
void CommitRun(InstallerState& state);
