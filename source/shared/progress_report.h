// How an installation run tells the outside what it is doing. The worker and the
// extraction call these on the worker thread; a window, a log or a test decides
// what to make of them. Every call must return at once: nothing here may wait for
// another thread (a repaint, a modal box), or the disk waits with it.
#pragma once

class ProgressReport {
 public:
  virtual ~ProgressReport() = default;
  // The run will write `totalFiles` files from both archives together.
  virtual void Begin(int totalFiles) { static_cast<void>(totalFiles); }
  // The next file is about to be written at `path`.
  virtual void FileStarted(const char* path) { static_cast<void>(path); }
  // Per mille (0 to 1000) of the current file is written.
  virtual void FilePosition(int perMille) { static_cast<void>(perMille); }
  // `filesDone` of the run's files are complete.
  virtual void FilesDone(int filesDone) { static_cast<void>(filesDone); }
  // The run has ended; the last call of a run. May wait for its receiver.
  virtual void Finished(bool succeeded) { static_cast<void>(succeeded); }
};
