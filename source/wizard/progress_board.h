// The progress page's side of a run's progress. The worker only stores values here
// and never waits for the page; the page shows the latest of them on a timer and
// once more when the end notice arrives, so a slow repaint (a themed progress bar
// costs milliseconds) never holds up the disk.
#pragma once
#include <windows.h>

#include <atomic>
#include <memory>

#include "shared/path_buffer.h"
#include "shared/progress_report.h"

class ProgressBoard : public ProgressReport {
 public:
  // Milliseconds between two looks at the board while the worker runs.
  static constexpr UINT kRefreshInterval = 30;

  // Starts a run shown on `page`: forgets everything published before. Call it
  // before the worker starts. Without memory for the file names, the names are
  // not shown and everything else is.
  void Reset(HWND page);

  // Worker thread: publish, never wait.
  void Begin(int totalFiles) override;
  void FileStarted(const char* path) override;
  void FilePosition(int perMille) override;
  void FilesDone(int filesDone) override;
  // Sends ID_WORKER_DONE to the page and waits until it has been handled.
  void Finished(bool succeeded) override;

  // Page thread: brings the bars and the current-file label up to what was
  // published, touching only the controls whose value changed.
  void Show();

 private:
  struct FileName {
    char text[kPathCapacity];
  };
  HWND page_ = nullptr;
  // Each slot is written once, before the count that makes it visible is stored.
  std::unique_ptr<FileName[]> names_;
  std::atomic<int> nameCount_{0};
  std::atomic<int> totalFiles_{-1};
  std::atomic<int> filePosition_{-1};
  std::atomic<int> filesDone_{-1};
  // What the controls show now (page thread only).
  int shownTotal_ = -1;
  int shownNames_ = 0;
  int shownFilePosition_ = -1;
  int shownFilesDone_ = -1;
};
