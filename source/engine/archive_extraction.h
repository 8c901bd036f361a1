// Unpacking one validated payload archive into a folder, with progress reports
// to the progress page and the user's pause and cancel requests.
#pragma once
#include "engine/archive_reader.h"
#include "shared/installer_state.h"

// Writes every entry of `archive` below `destinationFolder`. Reports to
// state.progressPageWindow, appends each written file to state.createdFiles and
// on failure or cancel stores the reason in state.errorText and returns false.
bool ExtractArchive(InstallerState& state, const ArchiveView& archive, const char* destinationFolder,
                    int progressBase, bool grantAccess);

// Between a file's first position (0) and its last, the file bar gets a new
// position only when the per-mille value changed and at least this many
// milliseconds have passed since the last one. A synchronous send costs a round
// trip to the page's thread (0.1-0.4 ms under Wine, several times that for a
// repaint), so one per per-mille step made extraction hundreds of times slower
// than the disk. 0 sends every change.
constexpr DWORD kDefaultFileProgressInterval = 50;
// Sets the spacing; returns the previous one.
DWORD SetFileProgressInterval(DWORD milliseconds);
