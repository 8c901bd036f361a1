// The one record the pages and the installation worker share.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "shared/path_buffer.h"
#include "shared/progress_report.h"

constexpr int kMaxCreatedFiles = 1000;
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
