#include "wizard/progress_board.h"

#include <commctrl.h>

#include <new>

#include "resource_ids.h"
#include "wizard/installer_state.h"

void ProgressBoard::Reset(HWND page) {
  page_ = page;
  names_.reset(new (std::nothrow) FileName[kMaxCreatedFiles]);
  nameCount_.store(0);
  totalFiles_.store(-1);
  filePosition_.store(-1);
  filesDone_.store(-1);
  shownTotal_ = -1;
  shownNames_ = 0;
  shownFilePosition_ = -1;
  shownFilesDone_ = -1;
}

void ProgressBoard::Begin(int totalFiles) { totalFiles_.store(totalFiles, std::memory_order_release); }

void ProgressBoard::FileStarted(const char* path) {
  // The worker is the only writer of the count, so it may read it relaxed.
  const int slot = nameCount_.load(std::memory_order_relaxed);
  if (!names_ || slot < 0 || slot >= kMaxCreatedFiles) return;
  CopyPath(names_[static_cast<std::size_t>(slot)].text, path);
  nameCount_.store(slot + 1, std::memory_order_release);
}

void ProgressBoard::FilePosition(int perMille) { filePosition_.store(perMille, std::memory_order_release); }

void ProgressBoard::FilesDone(int filesDone) { filesDone_.store(filesDone, std::memory_order_release); }

void ProgressBoard::Finished(bool) { SendMessageA(page_, WM_COMMAND, MAKEWPARAM(ID_WORKER_DONE, 0), 0); }

void ProgressBoard::Show() {
  const int total = totalFiles_.load(std::memory_order_acquire);
  if (total >= 0 && total != shownTotal_) {
    SendDlgItemMessageA(page_, IDC_PROGRESS_OVERALL, PBM_SETRANGE, 0, MAKELPARAM(0, total));
    SendDlgItemMessageA(page_, IDC_PROGRESS_OVERALL, PBM_SETSTEP, 1, 0);
    SendDlgItemMessageA(page_, IDC_PROGRESS_FILE, PBM_SETRANGE, 0, MAKELPARAM(0, 1000));
    SendDlgItemMessageA(page_, IDC_PROGRESS_FILE, PBM_SETSTEP, 1, 0);
    shownTotal_ = total;
  }
  const int names = nameCount_.load(std::memory_order_acquire);
  if (names > 0 && names != shownNames_ && names_) {
    SetDlgItemTextA(page_, IDC_PROGRESS_CURRENT_FILE, names_[static_cast<std::size_t>(names - 1)].text);
    shownNames_ = names;
  }
  const int filePosition = filePosition_.load(std::memory_order_acquire);
  if (filePosition >= 0 && filePosition != shownFilePosition_) {
    SendDlgItemMessageA(page_, IDC_PROGRESS_FILE, PBM_SETPOS, static_cast<WPARAM>(filePosition), 0);
    shownFilePosition_ = filePosition;
  }
  const int filesDone = filesDone_.load(std::memory_order_acquire);
  if (filesDone >= 0 && filesDone != shownFilesDone_) {
    SendDlgItemMessageA(page_, IDC_PROGRESS_OVERALL, PBM_SETPOS, static_cast<WPARAM>(filesDone), 0);
    shownFilesDone_ = filesDone;
  }
}
