// The hidden main window that owns the wizard, and the message loop of the
// user-interface thread.
#pragma once
#include <windows.h>

#include "wizard/exit_status.h"

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// What ends the process when the wizard closes: at once, whatever the worker thread
// is doing. The entry point gives it, being the one unit that ends the process.
using WizardEnd = void (*)(ProcessEnd end);

// Registers the class and creates the (never shown) main window; its creation opens
// the mode page. Every close of the wizard calls `end`. Returns the window, or nullptr
// on failure.
HWND CreateMainWindow(HINSTANCE instance, WizardEnd end);

// True for the keys the dialog manager of the active page is allowed to see.
bool IsDialogNavigationKey(const MSG& message);

// Runs the loop until WM_QUIT; returns the quit code.
int RunMessageLoop();
