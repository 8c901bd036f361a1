// What a run checks before it writes its first file: every destination of both
// archives and the workpath file fits whole, every folder on the way that exists is a
// folder and no link, every folder still to be made can be made, and nothing but a
// file stands where a file goes. Each earlier file found at a destination is planned
// to be kept, its keep folder is made and the journal is written and flushed, all
// before anything is replaced.
#pragma once
#include "engine/run_files.h"
#include "engine/install_run.h"

// CreateDirectory refuses a folder path longer than MAX_PATH - 12 characters (room is
// left for a file name in 8.3 form).
constexpr std::size_t kMaxNewFolderLength = 248;

// False, with the failure recorded by its cause, when the run must not begin; then
// nothing has been written. `destinations` holds the program archive for installDir
// first and the work archive for workDir second, and the workpath file.
bool PrepareRun(const InstallRun& run, const RunDestinations& destinations);
