#include "engine/install_run.h"

namespace {

ProgressReport g_nobody;

}  // namespace

InstallRun::InstallRun(const RunRequest& runRequest, RunRecord& runRecord)
    : request(runRequest),
      record(runRecord),
      keeper_(runRecord),
      report_(keeper_, runRequest.progress ? *runRequest.progress : g_nobody) {}

ProgressReport& InstallRun::Listener() const { return request.progress ? *request.progress : g_nobody; }

bool InstallRun::Fail(FailureCause cause, const char* path, unsigned long systemError) const {
  report_.StepFailed(cause, path, systemError);
  return false;
}

void InstallRun::FailureKeeper::StepFailed(FailureCause cause, const char* path, unsigned long systemError) {
  record_.failure.cause = cause;
  CopyPath(record_.failure.path, path != nullptr ? path : "");
  record_.failure.systemError = systemError;
}
