#include "wizard/exit_status.h"

#include "shared/run_log.h"
#include "wizard/installer_instance.h"

namespace {

const char* Meaning(ProcessEnd end) {
  switch (end) {
    case ProcessEnd::WizardClosed: return "wizard closed";
    case ProcessEnd::WizardNotStarted: return "wizard not started";
    case ProcessEnd::UsageShown: return "usage shown";
    case ProcessEnd::Installed: return "installed";
    case ProcessEnd::InstallFailed: return "installation failed";
    case ProcessEnd::InvalidCommandLine: return "invalid command line";
    case ProcessEnd::InstalledRestartPending: return "installed, restart pending";
    case ProcessEnd::AnotherRunActive: return "another installation in progress";
  }
  return "";
}

}  // namespace

int ExitStatusOf(ProcessEnd end) {
  switch (end) {
    case ProcessEnd::WizardClosed:
    case ProcessEnd::WizardNotStarted:
    case ProcessEnd::UsageShown:
    case ProcessEnd::Installed:
      return 0;
    case ProcessEnd::InstallFailed:
      return 1;
    case ProcessEnd::InvalidCommandLine:
      return 2;
    case ProcessEnd::InstalledRestartPending:
      return 3010;  // ERROR_SUCCESS_REBOOT_REQUIRED
    case ProcessEnd::AnotherRunActive:
      return 1618;  // ERROR_INSTALL_ALREADY_RUNNING
  }
  return 1;
}

int FinishProcess(ProcessEnd end) {
  const int status = ExitStatusOf(end);
  RunLog& log = TheRunLog();
  if (log.IsOpen()) {
    LogLine line;
    line.Text("exit status ").Number(static_cast<unsigned long long>(status)).Text(" (").Text(Meaning(end)).Text(")");
    log.Write(line);
  }
  return status;
}
