// Unpacking one validated payload archive into a folder, with progress reports
// and the user's pause and cancel requests.
#pragma once
#include "engine/archive_reader.h"
#include "shared/installer_state.h"

// Writes every entry of `archive` below `destinationFolder`. Reports to
// the run's ProgressReport, appends each written file to state.createdFiles and
// on failure or cancel stores the reason in state.errorText and returns false.
bool ExtractArchive(InstallerState& state, const ArchiveView& archive, const char* destinationFolder,
                    int progressBase, bool grantAccess);

