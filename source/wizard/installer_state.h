// The one record the pages share: the choices they collect, where the last page
// stood, the exchange with the installation worker and two facts about the process.
#pragma once
#include <windows.h>

#include <atomic>

#include "engine/install_run.h"
#include "engine/run_record.h"
#include "shared/path_buffer.h"
#include "shared/run_request.h"

constexpr std::size_t kErrorTextSize = 1000;

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
  // field keeps the name the record has always had.
  BYTE makeQuickLaunchShortcut = 1;
  char installDir[kPathCapacity] = {};
  char workDir[kPathCapacity] = {};

  CWndPos pagePlacement;

  // Exchange between the progress page and the worker. Each flag has one writing
  // thread: the page writes cancelRequested and extractionPaused, the worker
  // workerRunning and installSucceeded.
  std::atomic<bool> workerRunning{false};
  std::atomic<bool> cancelRequested{false};
  std::atomic<bool> extractionPaused{false};
  std::atomic<bool> installSucceeded{false};
  // The run the progress page starts: its request, built from the choices when the
  // page opens and fixed while the worker runs, and the worker's record of it
  // (created files, kept files, the last failure), read by the page only while it
  // handles the end notice.
  RunRequest request;
  RunRecord run;
  // The message of the run's last failure, from its cause, shown by the page.
  char errorText[kErrorTextSize] = {};
  HWND progressPageWindow = nullptr;

  // Process facts.
  HINSTANCE instanceHandle = nullptr;
  BYTE is64BitWindows = 0;
};

// Makes state.request the request for a run of the choices in `state`: its mode, both
// folders, the shortcuts, the registry view, the cancel and pause flags, and
// `progress` as its receiver.
void BuildRunRequest(InstallerState& state, ProgressReport* progress);

// The run of state.request and state.run, for its commit or undo.
InstallRun RunOf(InstallerState& state);
