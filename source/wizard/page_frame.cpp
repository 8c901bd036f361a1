#include "wizard/page_frame.h"

void RestorePagePlacement(HWND page, const CWndPos& saved) {
  if (!saved.placementSaved) return;
  // The normal-position rectangle is taken as a screen position as it stands.
  SetWindowPos(page, nullptr, saved.placement.rcNormalPosition.left, saved.placement.rcNormalPosition.top, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOOWNERZORDER);
}

void SavePagePlacement(HWND page, CWndPos& saved) {
  saved.placementSaved = 1;
  saved.placement.length = sizeof(saved.placement);
  GetWindowPlacement(page, &saved.placement);
}

HWND OpenNextPage(HINSTANCE instance, HWND current, int templateId, DLGPROC procedure) {
  HWND next = CreateDialogParamA(instance, MAKEINTRESOURCEA(templateId), current, procedure, 0);
  if (!next) return nullptr;
  ShowWindow(current, SW_HIDE);
  ShowWindow(next, SW_SHOW);
  return next;
}

void ForwardClose(HWND page) {
  SendMessageA(GetParent(page), WM_CLOSE, reinterpret_cast<WPARAM>(page), 0);
}
