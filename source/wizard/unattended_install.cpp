#include "wizard/unattended_install.h"

#include <windows.h>
#include <shellapi.h>

#include "engine/install_worker.h"
#include "engine/installation_record.h"
#include "engine/installation_removal.h"
#include "engine/run_journal.h"
#include "engine/run_outcome.h"
#include "shared/default_folders.h"
#include "shared/folder_creation.h"
#include "shared/path_buffer.h"
#include "shared/raii.h"
#include "shared/run_log.h"
#include "shared/texts.h"
#include "wizard/exit_status.h"
#include "wizard/installer_instance.h"

namespace {

// A valid command line has at most seven switches; a few more are read so that the
// one at fault can be named.
constexpr int kMaxArguments = 16;
// A switch name and its '=' before a value of a whole path.
constexpr std::size_t kArgumentCapacity = kPathCapacity + 16;
// The usage, a line naming the fault and an argument.
constexpr std::size_t kBoxTextCapacity = 4096;

// The arguments in the ANSI code page. An argument that does not convert whole and
// without substitutes (a character the code page lacks) stays null.
struct AnsiArguments {
  char text[kMaxArguments][kArgumentCapacity];
  const char* pointers[kMaxArguments];
  int count = 0;
  bool tooMany = false;
};

const char* ToAnsi(const wchar_t* argument, char* out, std::size_t capacity) {
  BOOL substituted = FALSE;
  const int written = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, argument, -1, out,
                                          static_cast<int>(capacity), nullptr, &substituted);
  return written > 0 && !substituted ? out : nullptr;
}

void ShowBox(const char* fault, const char* detail, bool withUsage) {
  char text[kBoxTextCapacity] = {};
  if (fault != nullptr) {
    CopyText(text, sizeof(text), fault);
    if (detail != nullptr && detail[0] != '\0') {
      AppendText(text, sizeof(text), ": ");
      AppendText(text, sizeof(text), detail);
    }
    if (withUsage) AppendText(text, sizeof(text), "\n\n");
  }
  if (withUsage) AppendText(text, sizeof(text), texts::kUsage);
  MessageBoxA(nullptr, text, texts::kWindowTitle, MB_OK);
}

// Refuses the command line: a box unless /S promised that no window appears.
ProcessEnd Refuse(const CommandLineOptions& options, const wchar_t* argument) {
  if (!options.unattended) {
    char shown[kArgumentCapacity] = {};
    // For the eye only: characters the code page lacks may show as substitutes.
    if (argument != nullptr &&
        WideCharToMultiByte(CP_ACP, 0, argument, -1, shown, static_cast<int>(sizeof(shown)), nullptr, nullptr) == 0)
      shown[0] = '\0';
    ShowBox(texts::kInvalidCommandLine, shown, true);
  }
  return ProcessEnd::InvalidCommandLine;
}

// Opens the log named on the command line; false (the command line is refused) when
// it cannot.
bool OpenLog(const CommandLineOptions& options) {
  char path[kPathCapacity] = {};
  const DWORD length = GetFullPathNameA(options.logPath, sizeof(path), path, nullptr);
  unsigned long error = ERROR_FILENAME_EXCED_RANGE;
  if (length > 0 && length < sizeof(path) && TheRunLog().Open(path, &error) == RunLog::OpenResult::Opened)
    return true;
  if (!options.unattended) ShowBox(texts::kLogOpenFailed, length > 0 && length < sizeof(path) ? path : options.logPath,
                                   false);
  return false;
}

void LogStart(const wchar_t* commandLine, const char* mode) {
  RunLog& log = TheRunLog();
  if (!log.IsOpen()) return;
  char version[32];
  InstallerVersion(version, sizeof(version));
  LogLine line;
  line.Text("start: Velmorix setup ").Text(version).Text(", ").Text(mode).Text(", command line: ").Wide(commandLine);
  log.Write(line);
}

// Ends a run that failed before the worker started.
ProcessEnd EndFailedRun(InstallerState& state) {
  TheRunLog().Finished(false);
  UndoRun(RunOf(state));
  return ProcessEnd::InstallFailed;
}

}  // namespace

bool StartFromCommandLine(InstallerState& state, ProcessEnd* end) {
  const wchar_t* commandLine = GetCommandLineW();
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(commandLine, &count);
  const UniqueLocal argvOwner(argv);
  if (argv == nullptr) {
    // Whether /S was given is unknown, so no window either.
    CommandLineOptions unknown;
    unknown.unattended = true;
    *end = Refuse(unknown, nullptr);
    return false;
  }

  AnsiArguments arguments;
  arguments.count = count > 1 ? count - 1 : 0;
  if (arguments.count > kMaxArguments) {
    arguments.count = kMaxArguments;
    arguments.tooMany = true;
  }
  for (int i = 0; i < arguments.count; ++i) {
    arguments.pointers[i] = ToAnsi(argv[i + 1], arguments.text[i], kArgumentCapacity);
  }
  CommandLineOptions options = ParseCommandLine(arguments.pointers, arguments.count);
  if (arguments.tooMany) {
    options.mode = StartMode::Invalid;
    options.error = CommandLineError::UnknownSwitch;
    options.errorArgument = kMaxArguments;
    // A /S among the arguments not read still forbids every window.
    for (int i = kMaxArguments + 1; i < count; ++i) {
      if (lstrcmpiW(argv[i], L"/S") == 0) options.unattended = true;
    }
  }

  switch (options.mode) {
    case StartMode::Usage:
      ShowBox(nullptr, nullptr, true);
      *end = ProcessEnd::UsageShown;
      return false;
    case StartMode::Invalid:
      *end = Refuse(options, options.errorArgument >= 0 && options.errorArgument + 1 < count
                                 ? argv[options.errorArgument + 1]
                                 : nullptr);
      return false;
    case StartMode::Wizard:
    case StartMode::Unattended:
      break;
  }
  if (options.logPath[0] != '\0' && !OpenLog(options)) {
    *end = ProcessEnd::InvalidCommandLine;
    return false;
  }
  if (options.mode == StartMode::Wizard) {
    LogStart(commandLine, "wizard");
    return true;
  }
  LogStart(commandLine, "unattended");
  *end = RunUnattended(state, options);
  return false;
}

ProcessEnd RunUnattended(InstallerState& state, const CommandLineOptions& options) {
  RunLog& log = TheRunLog();
  state.modeInstall = 1;
  state.modeRun = state.modeRepair = state.modeRemove = 0;
  state.makeDesktopShortcut = options.noDesktopShortcut ? 0 : 1;
  state.makeQuickLaunchShortcut = options.noStartMenuShortcut ? 0 : 1;
  if (options.installDir[0] != '\0') {
    CopyPath(state.installDir, options.installDir);
  } else {
    SetDefaultInstallFolder(state.installDir);
  }
  if (options.workDir[0] != '\0') {
    CopyPath(state.workDir, options.workDir);
  } else {
    SetDefaultWorkFolder(state.workDir, state.installDir);
  }
  BuildRunRequest(state, &log);
  log.RunStarted(state.request);
  // As at the wizard's start: a killed run's files are put back before anything else,
  // and a run beside another installer's touches nothing.
  switch (RecoverInterruptedRun(state.is64BitWindows != 0, &log)) {
    case RunStart::Busy:
      return ProcessEnd::AnotherRunActive;
    case RunStart::Unrecoverable:
      log.StepFailed(FailureCause::JournalUnreadable, kRunJournalKey, ERROR_ACCESS_DENIED);
      return ProcessEnd::InstallFailed;
    case RunStart::Free:
    case RunStart::Recovered:
      break;
  }
  // So is a removal the uninstaller left midway.
  RecoverInterruptedRemoval(state.is64BitWindows != 0);

  // A damaged installer, or a folder behind a link, fails before anything is created.
  if (!CheckPayload(RunOf(state)) || RefuseFolderThroughLink(state.installDir, &log) ||
      RefuseFolderThroughLink(state.workDir, &log))
    return EndFailedRun(state);
  // As the settings page's Next: the install folder, then the work folder with Users
  // access. A failure is reported with the sentence the page would show.
  ReportPair folderReport(log, PreRunFolders());
  if (CreateFolderPath(state.installDir, 0, &folderReport) != FailureCause::None ||
      CreateFolderPath(state.workDir, 1, &folderReport) != FailureCause::None) {
    return EndFailedRun(state);
  }

  // The folders as their creation left them (separators made backslashes, none at
  // the end), as the wizard's settings page leaves them.
  BuildRunRequest(state, &log);
  WorkerJob job{&state.request, &state.run, &state.workerRunning, &state.installSucceeded};
  InstallWorker(&job);
  if (state.installSucceeded.load()) {
    CommitRun(RunOf(state));
    return state.run.restartPending ? ProcessEnd::InstalledRestartPending : ProcessEnd::Installed;
  }
  UndoRun(RunOf(state));
  return ProcessEnd::InstallFailed;
}
