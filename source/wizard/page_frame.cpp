#include "wizard/page_frame.h"

#include "wizard/installer_instance.h"

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

HWND CreatePage(HINSTANCE instance, HWND owner, int templateId, const PageHandlers& handlers) {
  return CreateDialogParamA(instance, MAKEINTRESOURCEA(templateId), owner, PageProcedure,
                            reinterpret_cast<LPARAM>(&handlers));
}

HWND OpenNextPage(HINSTANCE instance, HWND current, int templateId, const PageHandlers& handlers) {
  HWND next = CreatePage(instance, current, templateId, handlers);
  if (!next) return nullptr;
  ShowWindow(current, SW_HIDE);
  ShowWindow(next, SW_SHOW);
  return next;
}

void ForwardClose(HWND page) {
  SendMessageA(GetParent(page), WM_CLOSE, reinterpret_cast<WPARAM>(page), 0);
}

INT_PTR CALLBACK PageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrA(page, DWLP_USER, lParam);
  const auto* kept = reinterpret_cast<const PageHandlers*>(GetWindowLongPtrA(page, DWLP_USER));
  if (kept == nullptr) return FALSE;
  const PageHandlers& handlers = *kept;
  switch (message) {
    case WM_INITDIALOG:
      handlers.initDialog(page, TheInstallerState());
      return TRUE;
    case WM_COMMAND:
      return handlers.command(page, LOWORD(wParam));
    case WM_CLOSE:
      if (handlers.close != nullptr) {
        handlers.close(page, TheInstallerState());
      } else {
        ForwardClose(page);
      }
      return TRUE;
    default:
      return handlers.other != nullptr ? handlers.other(page, message, wParam) : FALSE;
  }
}
