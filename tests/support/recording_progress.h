// A progress receiver standing in for the progress page: records every report a run
// makes (from whichever thread), and keeps the last failure reported, as a run's
// record does.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "shared/failure_texts.h"
#include "shared/progress_report.h"

namespace testsupport {

// One report of a run, in the order the worker made it.
struct ProgressEvent {
  enum Kind { Begin, FileStarted, FilePosition, FilesDone, Finished, WorkpathWritten, FileTypeAssociated, TakenBack };
  Kind kind;
  int value;         // total, position, files done, or 1 for a successful end
  std::string text;  // FileStarted, WorkpathWritten, FileTypeAssociated: the path; TakenBack: "step: path"
};

// What StepFailed last reported (cause None while nothing failed).
struct ReportedFailure {
  FailureCause cause = FailureCause::None;
  std::string path;  // "" when the report named none
  unsigned long systemError = 0;
};

class RecordingProgress : public ProgressReport {
 public:
  RecordingProgress() { InitializeSRWLock(&lock_); }

  void Begin(int totalFiles) override { Add({ProgressEvent::Begin, totalFiles, std::string()}); }
  void FileStarted(const char* path) override { Add({ProgressEvent::FileStarted, 0, path}); }
  void FilePosition(int perMille) override { Add({ProgressEvent::FilePosition, perMille, std::string()}); }
  void FilesDone(int filesDone) override { Add({ProgressEvent::FilesDone, filesDone, std::string()}); }
  void Finished(bool succeeded) override { Add({ProgressEvent::Finished, succeeded ? 1 : 0, std::string()}); }
  void WorkpathWritten(const char* path) override { Add({ProgressEvent::WorkpathWritten, 0, path}); }
  void FileTypeAssociated(const char* extension) override { Add({ProgressEvent::FileTypeAssociated, 0, extension}); }
  void TakenBack(const char* step, const char* path) override {
    Add({ProgressEvent::TakenBack, 0, std::string(step) + ": " + path});
  }
  void StepFailed(FailureCause cause, const char* path, unsigned long systemError) override {
    AcquireSRWLockExclusive(&lock_);
    failure_ = {cause, path != nullptr ? path : "", systemError};
    ReleaseSRWLockExclusive(&lock_);
  }

  std::vector<ProgressEvent> Events() const {
    AcquireSRWLockShared(&lock_);
    std::vector<ProgressEvent> copy = events_;
    ReleaseSRWLockShared(&lock_);
    return copy;
  }
  // Forgets the reports, not the last failure.
  void Clear() {
    AcquireSRWLockExclusive(&lock_);
    events_.clear();
    ReleaseSRWLockExclusive(&lock_);
  }
  // The values of one kind of report, in order.
  std::vector<int> Values(ProgressEvent::Kind kind) const {
    std::vector<int> values;
    for (const ProgressEvent& e : Events())
      if (e.kind == kind) values.push_back(e.value);
    return values;
  }
  ReportedFailure LastFailure() const {
    AcquireSRWLockShared(&lock_);
    ReportedFailure copy = failure_;
    ReleaseSRWLockShared(&lock_);
    return copy;
  }
  // The sentence the user would be shown for the last failure ("" while nothing failed).
  const char* LastFailureText() const { return FailureText(LastFailure().cause); }
  // Called on the worker thread after each report is recorded.
  std::function<void(const ProgressEvent&)> onEvent;

 private:
  void Add(const ProgressEvent& e) {
    AcquireSRWLockExclusive(&lock_);
    events_.push_back(e);
    ReleaseSRWLockExclusive(&lock_);
    if (onEvent) onEvent(e);
  }
  mutable SRWLOCK lock_;
  std::vector<ProgressEvent> events_;
  ReportedFailure failure_;
};

}  // namespace testsupport
