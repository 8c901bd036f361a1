// The first page: install, run without installing, reinstall or remove.
#pragma once
#include <windows.h>

INT_PTR CALLBACK ModePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
