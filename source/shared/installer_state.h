// The one record the pages and the installation worker share.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "shared/file_identity.h"
#include "shared/path_buffer.h"
#include "shared/progress_report.h"
#include "shared/raii.h"

constexpr int kMaxCreatedFiles = 1000;
constexpr std::size_t kErrorTextSize = 1000;
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

// Where the page that was left last stood.
class CWndPos {
 public:
  virtual ~CWndPos() {}
  BYTE placementSaved = 0;
  WINDOWPLACEMENT placement = {};
};

struct InstallerState {
  // Choices, written by the pages before the worker starts.
  BYTE modeInstall = 1;
  BYTE modeRun = 0;
  BYTE modeRepair = 0;
  BYTE modeRemove = 0;
  BYTE makeDesktopShortcut = 1;
  // The Start-menu shortcut (the check box calls it the quick-launch shortcut); the
  // field keeps the name the record has always had, as does quickLaunchShortcutPath.
  BYTE makeQuickLaunchShortcut = 1;
  char installDir[kPathCapacity] = {};
  char workDir[kPathCapacity] = {};
  // Written and read by the worker alone.
  char desktopShortcutPath[kPathCapacity] = {};
  char quickLaunchShortcutPath[kPathCapacity] = {};

  CWndPos pagePlacement;

  // Exchange between the progress page and the worker. Each flag has one writing
  // thread: the page writes cancelRequested and extractionPaused, the worker
  // workerRunning and installSucceeded.
  std::atomic<bool> workerRunning{false};
  std::atomic<bool> cancelRequested{false};
  std::atomic<bool> extractionPaused{false};
  std::atomic<bool> installSucceeded{false};
  // Written by the worker, read by the page only while it handles the end notice.
  std::int32_t createdFileCount = 0;
  char createdFiles[kMaxCreatedFiles][kPathCapacity] = {};
  // The identity each recorded file had when the run created it: clean-up deletes a
  // file only while its name still leads to that file.
  FileIdentity createdFileIds[kMaxCreatedFiles] = {};
  // Folders the run created, with their identities, in the order made: an undone run
  // removes them again (the deepest first, each only while empty).
  std::int32_t createdFolderCount = 0;
  char createdFolders[kMaxCreatedFolders][kPathCapacity] = {};
  FileIdentity createdFolderIds[kMaxCreatedFolders] = {};
  // Earlier files moved aside before being replaced: put back after a failure or a
  // cancel, deleted after success (see engine/run_outcome.h).
  std::int32_t keptFileCount = 0;
  KeptFile keptFiles[kMaxKeptFiles] = {};
  // For each entry of the run (both archives counted together, as the overall progress
  // counts them): 1 + the index of the kept file planned for its destination, 0 for
  // none. plannedWorkpathKeep the same for the workpath file.
  std::int32_t plannedKeep[kMaxCreatedFiles] = {};
  std::int32_t plannedWorkpathKeep = 0;
  KeepFolder keepFolders[kKeepFolderCount] = {};
  // Open while the run keeps its journal in the registry, so that a run that is killed
  // can be undone at the next start (see engine/run_journal.h).
  UniqueKey journal;
  // Set once the run is known to have succeeded (engine/run_outcome.h).
  bool runSucceeded = false;
  // Set when CommitRun left a kept file to be deleted at the next restart.
  bool restartPending = false;
  char errorText[kErrorTextSize] = {};
  HWND progressPageWindow = nullptr;
  // Where the worker reports progress and its end; none means nobody listens.
  ProgressReport* progress = nullptr;

  // Process facts.
  HINSTANCE instanceHandle = nullptr;
  BYTE is64BitWindows = 0;
};

// The run's progress receiver, or one that ignores everything.
ProgressReport& ProgressOf(const InstallerState& state);

// Records a failure's fixed message (at most 259 characters, replacing the last one)
// and reports the failed step to the run's receiver with what is known of its cause:
// the path concerned (or null) and the system's error code (or 0).
void ReportFailure(InstallerState& state, const char* message, const char* path, unsigned long systemError);
// The same without a known cause.
void SetErrorText(InstallerState& state, const char* message);
