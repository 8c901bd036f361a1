// What every page does to open the next page where the user left the last one,
// and to pass a close request up the chain of owners to the main window.
#pragma once
#include <windows.h>

#include "shared/installer_state.h"

// On WM_INITDIALOG: moves the page to the saved left and top, if a placement was saved.
void RestorePagePlacement(HWND page, const CWndPos& saved);

// Before leaving a page forward: remembers where it stands.
void SavePagePlacement(HWND page, CWndPos& saved);

// Creates the page of template `templateId` owned by `current`, hides `current`
// and shows the new page. Returns the new page, or nullptr when it could not be created
// (`current` then stays shown).
HWND OpenNextPage(HINSTANCE instance, HWND current, int templateId, DLGPROC procedure);

// On WM_CLOSE: hands the close to the page's owner.
void ForwardClose(HWND page);
