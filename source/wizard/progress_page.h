// The last page: starts the installation worker, lets the user cancel it, and
// finishes (starting the program) or reports the failure and removes the files.
#pragma once
#include <windows.h>

INT_PTR CALLBACK ProgressPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
