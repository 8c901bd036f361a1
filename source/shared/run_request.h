// What one installation run is asked to do. The wizard builds it from the pages'
// choices when the progress page opens, the unattended run from its command line; it
// does not change once the run starts. The run writes what it did into its own
// record (engine/run_record.h), never into the request.
#pragma once
#include <atomic>

#include "shared/path_buffer.h"
#include "shared/progress_report.h"

enum class RunMode : unsigned char {
  Install,    // the files, the ties into Windows and the installation's record
  Reinstall,  // the files and the record; the ties of the first installation stay
  RunOnly,    // the files only, to run the program without installing it
};

struct RunRequest {
  RunMode mode = RunMode::Install;
  char installDir[kPathCapacity] = {};
  char workDir[kPathCapacity] = {};
  bool makeDesktopShortcut = true;
  bool makeStartMenuShortcut = true;
  // Which registry view the run writes (the 64-bit one on 64-bit Windows).
  bool is64BitWindows = false;
  // Where the run's steps are reported; none means nobody listens.
  ProgressReport* progress = nullptr;
  // Flags another thread sets while the run works (none: never set). The run polls
  // them before every chunk it writes.
  const std::atomic<bool>* cancelRequested = nullptr;
  const std::atomic<bool>* extractionPaused = nullptr;

  bool TiesIntoWindows() const { return mode == RunMode::Install; }
  bool KeepsRecord() const { return mode != RunMode::RunOnly; }
  bool CancelRequested() const { return cancelRequested != nullptr && cancelRequested->load(); }
  bool Paused() const { return extractionPaused != nullptr && extractionPaused->load(); }
};
