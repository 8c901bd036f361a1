#include "uninstaller/uninstall_dialog.h"

#include <commctrl.h>

#include <atomic>

#include "resource_ids.h"
#include "shared/path_buffer.h"
#include "shared/raii.h"
#include "shared/texts.h"

namespace {

constexpr std::size_t kSummaryCapacity = 3 * kPathCapacity + 512;

struct DialogState {
  const InstallationRecord* record;
  bool is64BitWindows;
  ProgressReport* log;
  const char* launcher = nullptr;
  HWND window = nullptr;
  UniqueHandle worker;
  std::atomic<bool> cancel{false};
  std::atomic<bool> running{false};
  bool started = false;
  bool removeData = false;
  RemovalEnd result = RemovalEnd::Cancelled;
};

// The removal's reports, shown in the dialog (and passed on to the log). Sent, not
// posted: the texts live in the removal's buffers only while the call lasts.
class DialogProgress : public ProgressReport {
 public:
  DialogProgress(DialogState& state) : state_(state) {}
  void Begin(int totalFiles) override {
    state_.log->Begin(totalFiles);
    SendDlgItemMessageA(state_.window, IDC_UNINSTALL_PROGRESS, PBM_SETRANGE32, 0, totalFiles > 0 ? totalFiles : 1);
  }
  void FileStarted(const char* path) override {
    state_.log->FileStarted(path);
    SetDlgItemTextA(state_.window, IDC_UNINSTALL_CURRENT_FILE, path);
  }
  void FilesDone(int filesDone) override {
    SendDlgItemMessageA(state_.window, IDC_UNINSTALL_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(filesDone), 0);
  }
  void Finished(bool succeeded) override { state_.log->Finished(succeeded); }
  void StepFailed(FailureCause cause, const char* path, unsigned long systemError) override {
    state_.log->StepFailed(cause, path, systemError);
  }
  void DeletedAtRestart(const char* path) override { state_.log->DeletedAtRestart(path); }

 private:
  DialogState& state_;
};

DWORD WINAPI RemovalThread(LPVOID parameter) {
  DialogState& state = *static_cast<DialogState*>(parameter);
  DialogProgress progress(state);
  RemovalOptions options;
  options.is64BitWindows = state.is64BitWindows;
  options.removeData = state.removeData;
  options.progress = &progress;
  options.cancel = &state.cancel;
  options.launcher = state.launcher;
  state.result = RemoveInstallation(*state.record, options);
  state.running.store(false);
  PostMessageA(state.window, WM_COMMAND, ID_REMOVAL_DONE, 0);
  return 0;
}

void ShowSummary(HWND window, const InstallationRecord& record) {
  char summary[kSummaryCapacity] = {};
  CopyText(summary, sizeof(summary), texts::kUninstallSummary);
  AppendText(summary, sizeof(summary), record.installDir);
  if (record.workDir[0] != '\0' && _stricmp(record.workDir, record.installDir) != 0) {
    AppendText(summary, sizeof(summary), texts::kUninstallWorkSummary);
    AppendText(summary, sizeof(summary), record.workDir);
  }
  SetDlgItemTextA(window, IDC_UNINSTALL_SUMMARY, summary);
}

void StartRemoval(DialogState& state) {
  HWND window = state.window;
  state.removeData = IsDlgButtonChecked(window, IDC_UNINSTALL_REMOVE_DATA) == BST_CHECKED;
  EnableWindow(GetDlgItem(window, IDC_UNINSTALL_REMOVE), FALSE);
  EnableWindow(GetDlgItem(window, IDC_UNINSTALL_REMOVE_DATA), FALSE);
  ShowWindow(GetDlgItem(window, IDC_UNINSTALL_PROGRESS), SW_SHOW);
  SetFocus(GetDlgItem(window, IDC_UNINSTALL_CANCEL));
  state.started = true;
  state.running.store(true);
  state.worker.Reset(CreateThread(nullptr, 0, RemovalThread, &state, 0, nullptr));
  if (!state.worker) {
    state.running.store(false);
    state.result = RemovalEnd::Failed;
    PostMessageA(window, WM_COMMAND, ID_REMOVAL_DONE, 0);
  }
}

void ShowResult(DialogState& state) {
  HWND window = state.window;
  if (state.worker) WaitForSingleObject(state.worker.Get(), INFINITE);
  const char* text = state.result == RemovalEnd::Removed                 ? texts::kUninstallDone
                     : state.result == RemovalEnd::RemovedRestartPending ? texts::kUninstallRestartNeeded
                     : state.result == RemovalEnd::Cancelled             ? texts::kUninstallCancelled
                                                                            : texts::kUninstallFailed;
  SetDlgItemTextA(window, IDC_UNINSTALL_SUMMARY, text);
  SetDlgItemTextA(window, IDC_UNINSTALL_CURRENT_FILE, "");
  ShowWindow(GetDlgItem(window, IDC_UNINSTALL_REMOVE), SW_HIDE);
  ShowWindow(GetDlgItem(window, IDC_UNINSTALL_REMOVE_DATA), SW_HIDE);
  SetDlgItemTextA(window, IDC_UNINSTALL_CANCEL, texts::kCloseButton);
  SendMessageA(window, DM_SETDEFID, IDC_UNINSTALL_CANCEL, 0);
  SetFocus(GetDlgItem(window, IDC_UNINSTALL_CANCEL));
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrA(window, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      state = reinterpret_cast<DialogState*>(lParam);
      SetWindowLongPtrA(window, DWLP_USER, lParam);
      state->window = window;
      ShowSummary(window, *state->record);
      ShowWindow(GetDlgItem(window, IDC_UNINSTALL_PROGRESS), SW_HIDE);
      return TRUE;
    case WM_COMMAND:
      if (state == nullptr) return FALSE;
      switch (LOWORD(wParam)) {
        case IDOK:
        case IDC_UNINSTALL_REMOVE:
          if (!state->started) StartRemoval(*state);
          return TRUE;
        case IDCANCEL:
        case IDC_UNINSTALL_CANCEL:
          // During the removal a cancel puts everything back; the result follows.
          if (state->running.load()) {
            state->cancel.store(true);
          } else {
            EndDialog(window, 0);
          }
          return TRUE;
        case ID_REMOVAL_DONE:
          ShowResult(*state);
          return TRUE;
        default:
          return FALSE;
      }
    case WM_CLOSE:
      SendMessageA(window, WM_COMMAND, IDCANCEL, 0);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

RemovalEnd ShowUninstallDialog(HINSTANCE instance, const InstallationRecord& record, bool is64BitWindows,
                                  const char* launcher, ProgressReport& log, bool* started) {
  DialogState state;
  state.record = &record;
  state.is64BitWindows = is64BitWindows;
  state.log = &log;
  state.launcher = launcher;
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_UNINSTALL_DIALOG), nullptr, DialogProc,
                  reinterpret_cast<LPARAM>(&state));
  if (state.worker) WaitForSingleObject(state.worker.Get(), INFINITE);
  *started = state.started;
  return state.result;
}
