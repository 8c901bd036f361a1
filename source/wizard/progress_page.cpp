#include "wizard/progress_page.h"

#include "engine/install_worker.h"
#include "engine/run_outcome.h"
#include "resource_ids.h"
#include "shared/failure_texts.h"
#include "shared/launch.h"
#include "shared/raii.h"
#include "shared/system_libraries.h"
#include "shared/texts.h"
#include "wizard/installer_instance.h"
#include "wizard/page_frame.h"
#include "wizard/progress_board.h"

namespace {

// What the worker publishes; the page shows it on the board timer.
ProgressBoard g_board;
constexpr UINT_PTR kBoardTimer = 1;

// Set by this page from a successful CreateThread until the end notice arrives. It
// covers the moment before the new thread has set workerRunning, so that a click or a
// close in that moment asks before anything is abandoned.
bool g_workerStarted = false;
// Set while a failed or cancelled run is being finished (its box, then the deletion of
// its files). A close arriving meanwhile, say from the taskbar while the box is open,
// waits until the files are gone instead of ending the process before.
bool g_finishingRun = false;
bool g_closeDeferred = false;
// How long the end of a session waits for the worker to stop.
constexpr DWORD kEndSessionWaitMs = 10000;

bool WorkerActive(const InstallerState& state) { return g_workerStarted || state.workerRunning.load(); }

void OnInitDialog(HWND page, InstallerState& state) {
  state.installSucceeded = false;
  state.cancelRequested = false;
  state.extractionPaused = false;
  state.errorText[0] = '\0';
  state.run.createdFileCount = 0;
  RestorePagePlacement(page, state.pagePlacement);
  state.progressPageWindow = page;
  g_board.Reset(page);
  // The log, when the command line asked for one, hears every report before the board.
  static ReportPair reports(TheRunLog(), g_board);
  BuildRunRequest(state, &reports);
  TheRunLog().RunStarted(state.request);
  if (state.modeRun) EnableWindow(GetDlgItem(page, IDC_PROGRESS_RUN_PROGRAM), FALSE);
  SendDlgItemMessageA(page, IDC_PROGRESS_RUN_PROGRAM, BM_SETCHECK, BST_CHECKED, 0);
  SendMessageA(page, WM_COMMAND, ID_START_WORKER, 0);
}

INT_PTR StartWorker(HWND page) {
  DWORD threadId = 0;
  // The page never waits for the thread, so its handle is not kept.
  InstallerState& state = TheInstallerState();
  static WorkerJob job;
  job = WorkerJob{&state.request, &state.run, &state.workerRunning, &state.installSucceeded};
  UniqueHandle thread(CreateThread(nullptr, 0, InstallWorker, &job, 0, &threadId));
  if (!thread) {
    MessageBoxA(page, texts::kWorkerThreadFailed, texts::kErrorCaption, MB_OK);
    SetDlgItemTextA(page, IDC_PROGRESS_BUTTON, texts::kCloseButton);
    return TRUE;
  }
  g_workerStarted = true;
  SetTimer(page, kBoardTimer, ProgressBoard::kRefreshInterval, nullptr);
  return FALSE;
}

// Holds the extraction while the question is open; Yes asks it to stop. The page stays:
// the worker's end notice finishes a cancelled run.
void AskToCancel(HWND page, InstallerState& state) {
  if (state.extractionPaused) return;  // the question is already open (a second close)
  state.extractionPaused = true;
  if (MessageBoxA(page, texts::kCancelQuestion, texts::kCancelQuestionCaption, MB_YESNO) == IDYES) {
    state.cancelRequested = true;
  }
  state.extractionPaused = false;
}

void OnButton(HWND page, InstallerState& state) {
  if (WorkerActive(state)) {
    AskToCancel(page, state);
    return;
  }
  if (state.installSucceeded &&
      SendDlgItemMessageA(page, IDC_PROGRESS_RUN_PROGRAM, BM_GETCHECK, 0, 0) == BST_CHECKED) {
    // As the signed-in user: the installer's rights must not pass to the program.
    LaunchProgramAsUserOrReport(page, state.installDir, texts::kProgramExeTail, texts::kProgramLaunchCaption);
  }
  SendMessageA(page, WM_CLOSE, 0, 0);
}

INT_PTR OnWorkerDone(HWND page, InstallerState& state) {
  g_workerStarted = false;
  // The run's last file name and bar positions before anything else.
  KillTimer(page, kBoardTimer);
  g_board.Show();
  if (state.installSucceeded) {
    // The files it replaced are deleted when the page closes (OnClose): the user sees
    // the success at once.
    if (state.modeRun) {
      // Nothing to decide in run mode: start the program and end at once.
      SendMessageA(page, WM_COMMAND, IDC_PROGRESS_BUTTON, 0);
    } else {
      SetDlgItemTextA(state.progressPageWindow, IDC_PROGRESS_BUTTON, texts::kFinishButton);
    }
    return FALSE;
  }
  g_finishingRun = true;
  CopyPath(state.errorText, FailureText(state.run.failure.cause));
  if (!state.cancelRequested) {
    MessageBoxA(page, state.errorText, texts::kErrorCaption, MB_OK);
    SetDlgItemTextA(state.progressPageWindow, IDC_PROGRESS_BUTTON, texts::kCloseButton);
  }
  UndoRun(RunOf(state));
  g_finishingRun = false;
  if (state.cancelRequested || g_closeDeferred) SendMessageA(page, WM_CLOSE, 0, 0);
  return TRUE;
}

INT_PTR OnCommand(HWND page, int commandId) {
  InstallerState& state = TheInstallerState();
  switch (commandId) {
    case ID_START_WORKER:
      return StartWorker(page);
    case IDC_PROGRESS_BUTTON:
      OnButton(page, state);
      return TRUE;
    case ID_WORKER_DONE:
      return OnWorkerDone(page, state);
    default:
      return FALSE;
  }
}

// A close from outside (the taskbar) while the worker runs is the Cancel button: ending
// the process then would leave half-written files behind.
void OnClose(HWND page, InstallerState& state) {
  if (WorkerActive(state)) {
    AskToCancel(page, state);
    return;
  }
  if (g_finishingRun) {
    g_closeDeferred = true;
    return;
  }
  if (state.installSucceeded) CommitRun(RunOf(state));
  ForwardClose(page);
}

// The session ends (log-off, shut-down) during a run: the run is undone before the
// system ends the process. The worker is asked to stop and its end notice, a sent
// message, is taken here; finishing the cancelled run ends the process.
void OnEndSession(InstallerState& state) {
  if (WorkerActive(state)) {
    state.cancelRequested = true;
    state.extractionPaused = false;
    const DWORD start = GetTickCount();
    while (g_workerStarted && GetTickCount() - start < kEndSessionWaitMs) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_SENDMESSAGE);
      MSG message;
      PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
  }
  // Still here: the end notice's box is open, the run succeeded, or the worker did not
  // end in time (its journal then serves the next start).
  if (g_finishingRun) UndoRun(RunOf(state));
  if (!WorkerActive(state) && state.installSucceeded) CommitRun(RunOf(state));
}

INT_PTR OnOtherMessage(HWND, UINT message, WPARAM wParam) {
  switch (message) {
    case WM_ENDSESSION:
      if (wParam) OnEndSession(TheInstallerState());
      return FALSE;
    case WM_TIMER:
      if (wParam != kBoardTimer) return FALSE;
      g_board.Show();
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

const PageHandlers kProgressPageHandlers = {OnInitDialog, OnCommand, OnClose, OnOtherMessage};

HWND OpenProgressPage(HINSTANCE instance, HWND current) {
  // Once per process: the class stays registered, the library stays loaded.
  static const bool registered = InitProgressBarControls();
  static_cast<void>(registered);
  return OpenNextPage(instance, current, IDD_PROGRESS_PAGE, kProgressPageHandlers);
}
