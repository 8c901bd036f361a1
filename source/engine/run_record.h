// Everything one installation run did, kept by the run itself: the files and folders
// it created (each with its identity), the earlier files it moved aside and where,
// its journal, the shortcuts it made and the last failure with its cause. The undo of
// a failed or cancelled run, the commit of a successful one and the next start's
// recovery of a killed one all work from this record (engine/run_outcome.h).
#pragma once
#include <windows.h>

#include <cstdint>

#include "shared/failure_cause.h"
#include "shared/file_identity.h"
#include "shared/path_buffer.h"
#include "shared/raii.h"

constexpr int kMaxCreatedFiles = 1000;
// Every entry of both archives, and the workpath file.
constexpr int kMaxKeptFiles = kMaxCreatedFiles + 1;
// Folders a run may create below its destination folders.
constexpr int kMaxCreatedFolders = 256;
// One per destination folder: the install folder and the work folder.
constexpr int kKeepFolderCount = 2;

// Random names of kept files and keep folders: 16 hexadecimal digits after a prefix.
constexpr std::size_t kKeptNameSize = 32;

// An earlier file that a run moved aside before writing a new one at its name. In its
// keep folder it has a random name, chosen and journalled before it moves.
struct KeptFile {
  char path[kPathCapacity];  // where it stood, its name spelt as on disk; it goes back there
  char keptName[kKeptNameSize];  // its name in the keep folder
  std::int32_t keepFolder;   // index in keepFolders
  bool moved;                // may lie in its keep folder (always so for a journal's records)
  std::uint32_t key;         // NameKey of path, for finding a path recorded already
};

// The folder of a run's own that holds the files it moved aside from one destination
// folder: at the root of that folder's volume, under a random name, hidden, and open
// to Administrators and SYSTEM alone, so no user can reach, replace or squat what it
// keeps (see engine/keep_folder.h).
struct KeepFolder {
  char root[kPathCapacity];  // the destination folder it serves; empty while unused
  char path[kPathCapacity];  // the volume's root and its random name; empty until named
  FileIdentity identity;     // zero until created
  // Held open while the run writes, without delete sharing.
  UniqueHandle held;
};

// The last step of a run that failed: why, what it concerned (a file, folder or key;
// empty when nothing) and the system's code (a Win32 error, a registry result or an
// HRESULT; 0 when none).
struct RunFailure {
  FailureCause cause = FailureCause::None;
  char path[kPathCapacity] = {};
  unsigned long systemError = 0;
};

// No kept file planned for a destination.
constexpr std::int32_t kNoPlannedKeep = -1;

struct RunRecord {
  RunRecord() { ClearPlannedKeeps(); }
  void ClearPlannedKeeps() {
    for (std::int32_t& planned : plannedKeep) planned = kNoPlannedKeep;
    plannedWorkpathKeep = kNoPlannedKeep;
  }

  // Files the run created, in the order made, with the identity each had when the run
  // created it: the undo deletes a file only while its name still leads to that file.
  std::int32_t createdFileCount = 0;
  char createdFiles[kMaxCreatedFiles][kPathCapacity] = {};
  FileIdentity createdFileIds[kMaxCreatedFiles] = {};
  // Folders the run created, with their identities, in the order made: an undone run
  // removes them again (the deepest first, each only while empty).
  std::int32_t createdFolderCount = 0;
  char createdFolders[kMaxCreatedFolders][kPathCapacity] = {};
  FileIdentity createdFolderIds[kMaxCreatedFolders] = {};
  // Earlier files moved aside before being replaced: put back after a failure or a
  // cancel, deleted after success.
  std::int32_t keptFileCount = 0;
  KeptFile keptFiles[kMaxKeptFiles] = {};
  // For each entry of the run (both archives counted together, as the overall progress
  // counts them): the index of the kept file planned for its destination, or
  // kNoPlannedKeep. plannedWorkpathKeep the same for the workpath file.
  std::int32_t plannedKeep[kMaxCreatedFiles];
  std::int32_t plannedWorkpathKeep = kNoPlannedKeep;
  KeepFolder keepFolders[kKeepFolderCount] = {};
  // Open while the run keeps its journal in the registry, so that a run that is killed
  // can be undone at the next start (see engine/run_journal.h).
  UniqueKey journal;
  // Set once the run is known to have succeeded.
  bool runSucceeded = false;
  // Set when the commit left a kept file to be deleted at the next restart.
  bool restartPending = false;
  // The shortcuts the run made (empty: not made).
  char desktopShortcutPath[kPathCapacity] = {};
  char startMenuShortcutPath[kPathCapacity] = {};
  RunFailure failure;
};
