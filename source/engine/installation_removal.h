// Removing an installation by its record (engine/installation_record.h), undoably:
// every file to go is first moved aside into a keep folder of the removal's own at
// the root of its volume (engine/keep_folder.h: administrators only, a rename, no
// copy), each move journalled before it is made; only when every file is aside is the
// removal marked done, and then the class keys put back and the kept files, the
// emptied folders, the uninstall entry and the record deleted. A failure or a cancel
// before the mark moves every file back under its own name and keeps the record; a
// removal killed midway is undone (before the mark) or finished (after it) by the next
// start (RecoverInterruptedRemoval).
#pragma once
#include <atomic>

#include "engine/installation_record.h"
#include "shared/progress_report.h"

struct RemovalOptions {
  bool is64BitWindows = false;
  // The work folder's files the program or the user changed or added go too.
  bool removeData = false;
  ProgressReport* progress = nullptr;            // none: nobody listens
  const std::atomic<bool>* cancel = nullptr;     // read between two files
  // The program that started this removal and waits for its end (an uninstaller run
  // from its copy): its file cannot go while it runs, so it is left to the restart
  // without making the removal wait for one.
  const char* launcher = nullptr;
};

enum class RemovalEnd {
  Removed,
  RemovedRestartPending,  // a file in use goes at the next restart
  Failed,                 // nothing removed: every file is back, the record stays
  Cancelled,              // the same, asked for
};

// What the removal of `record` would delete: the files (those of the work folder only
// while unchanged, unless `removeData`), for the dialog's summary and the progress.
int CountFilesToRemove(const InstallationRecord& record, bool removeData);

// Whether a recorded file still is as the installation wrote it (size and write time).
bool IsUnchanged(const RecordedFile& file);

RemovalEnd RemoveInstallation(const InstallationRecord& record, const RemovalOptions& options);

enum class RemovalRecovery { None, Undone, Finished, Failed };

// At the start of the uninstaller or the installer (run lock held): a removal that was
// killed is undone, or finished when it had been marked done.
RemovalRecovery RecoverInterruptedRemoval(bool is64BitWindows);
