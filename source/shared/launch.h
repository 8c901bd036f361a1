// Starting a program of the installation with WinExec, and the texts for its failures.
#pragma once
#include <windows.h>

// The English message for a WinExec result of 0..31.
const char* LaunchFailureText(UINT winExecResult);

// Starts folder + tail (tail such as "\Velmorix.exe") with SW_SHOW, its path in quotation
// marks. A command line that would not fit 260 bytes whole is not started: the result
// is then ERROR_PATH_NOT_FOUND (3), as for a path that does not exist.
UINT LaunchProgram(const char* folder, const char* tail);

// LaunchProgram, and on failure the failure text in a box owned by `owner` under `caption`.
void LaunchProgramOrReport(HWND owner, const char* folder, const char* tail, const char* caption);
