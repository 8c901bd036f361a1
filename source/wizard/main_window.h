// The hidden main window that owns the wizard, and the message loop of the
// user-interface thread.
#pragma once
#include <windows.h>

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Registers the class and creates the (never shown) main window; its creation opens
// the mode page. Returns the window, or nullptr on failure.
HWND CreateMainWindow(HINSTANCE instance);

// True for the keys the dialog manager of the active page is allowed to see.
bool IsDialogNavigationKey(const MSG& message);

// Runs the loop until WM_QUIT; returns the quit code.
int RunMessageLoop();
