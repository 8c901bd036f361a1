// How an installation run tells the outside what it is doing. The worker and the
// extraction call these on the worker thread; a window, a log or a test decides
// what to make of them. Every call must return at once: nothing here may wait for
// another thread (a repaint, a modal box), or the disk waits with it.
#pragma once
#include "shared/failure_cause.h"

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

  // The steps of a run, for a record of what it changed on the machine. Paths are ANSI.
  // A folder that did not exist before was created.
  virtual void FolderCreated(const char* path) { static_cast<void>(path); }
  // An archive was unpacked whole into `folder`.
  virtual void ArchiveUnpacked(const char* folder, int files, unsigned long long bytes,
                               unsigned long milliseconds) {
    static_cast<void>(folder);
    static_cast<void>(files);
    static_cast<void>(bytes);
    static_cast<void>(milliseconds);
  }
  virtual void WorkpathWritten(const char* path) { static_cast<void>(path); }
  virtual void ShortcutCreated(const char* path) { static_cast<void>(path); }
  // `key` names the root and the key ("HKLM\Software\...").
  virtual void UninstallEntryWritten(const char* key) { static_cast<void>(key); }
  virtual void FileTypeAssociated(const char* extension) { static_cast<void>(extension); }
  // A step failed for `cause`; `path` is the file, folder or key concerned (null when
  // there is none) and `systemError` the code the system gave (a Win32 error, a
  // registry result or an HRESULT; 0: none).
  virtual void StepFailed(FailureCause cause, const char* path, unsigned long systemError) {
    static_cast<void>(cause);
    static_cast<void>(path);
    static_cast<void>(systemError);
  }
  // Undoing a run took back one of its steps outside the files: `step` says which
  // ("shortcut removed"), `path` the file or key concerned.
  virtual void TakenBack(const char* step, const char* path) {
    static_cast<void>(step);
    static_cast<void>(path);
  }
  // A file the run replaced could not be deleted now (it is in use) and is deleted at
  // the next restart instead.
  virtual void DeletedAtRestart(const char* path) { static_cast<void>(path); }
};

// Hands every report to two receivers, `first` before `second`. The second may be one
// whose Finished waits (the progress page's board), so the first has its say before.
class ReportPair : public ProgressReport {
 public:
  ReportPair(ProgressReport& first, ProgressReport& second) : first_(first), second_(second) {}

  void Begin(int totalFiles) override { first_.Begin(totalFiles); second_.Begin(totalFiles); }
  void FileStarted(const char* path) override { first_.FileStarted(path); second_.FileStarted(path); }
  void FilePosition(int perMille) override { first_.FilePosition(perMille); second_.FilePosition(perMille); }
  void FilesDone(int filesDone) override { first_.FilesDone(filesDone); second_.FilesDone(filesDone); }
  void Finished(bool succeeded) override { first_.Finished(succeeded); second_.Finished(succeeded); }
  void FolderCreated(const char* path) override { first_.FolderCreated(path); second_.FolderCreated(path); }
  void ArchiveUnpacked(const char* folder, int files, unsigned long long bytes,
                       unsigned long milliseconds) override {
    first_.ArchiveUnpacked(folder, files, bytes, milliseconds);
    second_.ArchiveUnpacked(folder, files, bytes, milliseconds);
  }
  void WorkpathWritten(const char* path) override { first_.WorkpathWritten(path); second_.WorkpathWritten(path); }
  void ShortcutCreated(const char* path) override { first_.ShortcutCreated(path); second_.ShortcutCreated(path); }
  void UninstallEntryWritten(const char* key) override {
    first_.UninstallEntryWritten(key); second_.UninstallEntryWritten(key);
  }
  void FileTypeAssociated(const char* extension) override {
    first_.FileTypeAssociated(extension); second_.FileTypeAssociated(extension);
  }
  void StepFailed(FailureCause cause, const char* path, unsigned long systemError) override {
    first_.StepFailed(cause, path, systemError); second_.StepFailed(cause, path, systemError);
  }
  void DeletedAtRestart(const char* path) override { first_.DeletedAtRestart(path); second_.DeletedAtRestart(path); }
  void TakenBack(const char* step, const char* path) override {
    first_.TakenBack(step, path); second_.TakenBack(step, path);
  }

 private:
  ProgressReport& first_;
  ProgressReport& second_;
};
