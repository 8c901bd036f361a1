// What every page does to open the next page where the user left the last one,
// and to pass a close request up the chain of owners to the main window; the one
// dialog procedure of the pages, which hands each message to the page's handlers.
#pragma once
#include <windows.h>

#include "wizard/installer_state.h"

// On WM_INITDIALOG: moves the page to the saved left and top, if a placement was saved.
void RestorePagePlacement(HWND page, const CWndPos& saved);

// Before leaving a page forward: remembers where it stands.
void SavePagePlacement(HWND page, CWndPos& saved);

// What one page does with the messages of its dialog procedure.
struct PageHandlers {
  // WM_INITDIALOG (the procedure then returns TRUE).
  void (*initDialog)(HWND page, InstallerState& state);
  // WM_COMMAND with the control's id: the procedure's result.
  INT_PTR (*command)(HWND page, int controlId);
  // WM_CLOSE (the procedure then returns TRUE); null: ForwardClose.
  void (*close)(HWND page, InstallerState& state);
  // Any other message: the procedure's result; null: FALSE, not handled.
  INT_PTR (*other)(HWND page, UINT message, WPARAM wParam);
};

// Creates the modeless page of template `templateId` owned by `owner`, served by
// `handlers` (which must outlive it). nullptr when it cannot be created.
HWND CreatePage(HINSTANCE instance, HWND owner, int templateId, const PageHandlers& handlers);

// Creates the page of template `templateId` owned by `current`, hides `current`
// and shows the new page. Returns the new page, or nullptr when it could not be created
// (`current` then stays shown).
HWND OpenNextPage(HINSTANCE instance, HWND current, int templateId, const PageHandlers& handlers);

// On WM_CLOSE: hands the close to the page's owner.
void ForwardClose(HWND page);

// The dialog procedure of every page: the page's handlers come with WM_INITDIALOG (as
// the creation parameter CreatePage gives) and are kept with the dialog; a message
// before it is not handled.
INT_PTR CALLBACK PageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
