#include "wizard/page_frame.h"

#include "resource_ids.h"
#include "wizard/installer_instance.h"
#include "wizard/mode_page.h"
#include "wizard/progress_page.h"
#include "wizard/settings_page.h"

namespace {

// Each dialog template of the wizard with the procedure that serves it.
struct PageTemplate {
  int templateId;
  DLGPROC procedure;
};
constexpr PageTemplate kPages[] = {
    {IDD_MODE_PAGE, ModePageProc},
    {IDD_SETTINGS_PAGE, SettingsPageProc},
    {IDD_PROGRESS_PAGE, ProgressPageProc},
};

}  // namespace

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

HWND CreatePage(HINSTANCE instance, HWND owner, int templateId) {
  for (const PageTemplate& page : kPages) {
    if (page.templateId == templateId)
      return CreateDialogParamA(instance, MAKEINTRESOURCEA(templateId), owner, page.procedure, 0);
  }
  return nullptr;
}

HWND OpenNextPage(HINSTANCE instance, HWND current, int templateId) {
  HWND next = CreatePage(instance, current, templateId);
  if (!next) return nullptr;
  ShowWindow(current, SW_HIDE);
  ShowWindow(next, SW_SHOW);
  return next;
}

void ForwardClose(HWND page) {
  SendMessageA(GetParent(page), WM_CLOSE, reinterpret_cast<WPARAM>(page), 0);
}

INT_PTR DispatchPageMessage(const PageHandlers& handlers, HWND page, UINT message, WPARAM wParam) {
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
