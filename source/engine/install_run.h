// One installation run as the engine's units see it: the request it was given, fixed
// for the whole run, and the record it keeps of what it did. Its report passes every
// step on to the request's receiver and keeps the last failure in the record.
#pragma once
#include "engine/run_record.h"
#include "shared/progress_report.h"
#include "shared/run_request.h"

class InstallRun {
 public:
  InstallRun(const RunRequest& runRequest, RunRecord& runRecord);
  InstallRun(const InstallRun&) = delete;
  InstallRun& operator=(const InstallRun&) = delete;

  const RunRequest& request;
  RunRecord& record;

  // Where the run's steps go: the request's receiver, with each failure also kept in
  // the record (the last one stays).
  ProgressReport& Progress() const { return report_; }
  // The request's receiver alone: for the notes of an undo, a commit or a recovery,
  // whose failures do not replace the run's own.
  ProgressReport& Listener() const;

  // Records and reports a failed step; always false, so callers can return it.
  bool Fail(FailureCause cause, const char* path, unsigned long systemError) const;

 private:
  // Keeps each failure reported through the run in its record.
  class FailureKeeper : public ProgressReport {
   public:
    explicit FailureKeeper(RunRecord& record) : record_(record) {}
    void StepFailed(FailureCause cause, const char* path, unsigned long systemError) override;

   private:
    RunRecord& record_;
  };

  mutable FailureKeeper keeper_;
  mutable ReportPair report_;
};
