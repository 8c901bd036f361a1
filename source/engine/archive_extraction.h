// Unpacking one validated payload archive into a folder, with progress reports
// and the user's pause and cancel requests.
#pragma once
#include "engine/archive_reader.h"
#include "engine/entry_data.h"
#include "engine/run_files.h"
#include "engine/install_run.h"

// Writes every entry of `archive` below `destinationFolder`. Every folder on the way
// is checked and held (engine/folder_chain.h); an earlier file at a destination is kept
// aside before the new one is created (engine/run_files.h). Reports to the run's
// ProgressReport, appends each written file to run.record.createdFiles and on failure or
// cancel records the cause (run.record.failure) and returns false. Each folder it
// makes is journalled and recorded (run.record.createdFolders).
bool ExtractArchive(const InstallRun& run, const ArchiveView& archive, const char* destinationFolder,
                    int progressBase, bool grantAccess);

// The same with the entries' bytes taken from `source`, an EntryData of `archive`
// already started: a compressed archive's frames then decode ahead of the run's
// earlier steps. Its failure to start is the caller's to report.
bool ExtractArchive(const InstallRun& run, const ArchiveView& archive, EntryData& source,
                    const char* destinationFolder, int progressBase, bool grantAccess);
