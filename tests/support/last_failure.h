// A progress receiver that keeps the last failure reported to it, as a run's record
// does, for the tests of the units that report failures by cause.
#pragma once
#include <string>

#include "shared/failure_texts.h"
#include "shared/progress_report.h"

class LastFailure : public ProgressReport {
 public:
  void StepFailed(FailureCause failed, const char* failedPath, unsigned long systemError) override {
    cause = failed;
    path = failedPath != nullptr ? failedPath : "";
    code = systemError;
  }
  // The sentence the user would be shown ("" while nothing failed).
  const char* Text() const { return FailureText(cause); }

  FailureCause cause = FailureCause::None;
  std::string path;
  unsigned long code = 0;
};
