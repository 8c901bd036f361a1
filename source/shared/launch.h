// Starting a program of the installation, and the texts for its failures.
#pragma once
#include <windows.h>

// The English message for a WinExec result of 0..31.
const char* LaunchFailureText(UINT winExecResult);

// The WinExec-style result (2, 3, 11, or 0 for anything else) for a system error code
// of a failed process start.
UINT LaunchResultOfError(DWORD systemError);

// Starts folder + tail (tail such as "\Velmorix.exe") with SW_SHOW, its path in quotation
// marks, with the installer's own rights. A command line that would not fit 260 bytes
// whole is not started: the result is then ERROR_PATH_NOT_FOUND (3), as for a path that
// does not exist.
UINT LaunchProgram(const char* folder, const char* tail);

// The same command line, started as the user signed in at the desktop: with the token
// of the process behind the shell's window, duplicated as a primary token, so the
// program does not inherit the elevated installer's rights. Without a shell process
// there is no such token, and nothing is started: the program would otherwise run
// with the installer's rights and load libraries from folders users can write. Above
// 31 on success, else a WinExec-style result (LaunchResultOfError; 0 without a shell).
UINT LaunchProgramAsUser(const char* folder, const char* tail);

// LaunchProgram, and on failure the failure text in a box owned by `owner` under `caption`.
void LaunchProgramOrReport(HWND owner, const char* folder, const char* tail, const char* caption);
// LaunchProgramAsUser, and on failure the failure text in a box owned by `owner`.
void LaunchProgramAsUserOrReport(HWND owner, const char* folder, const char* tail, const char* caption);

// The calls LaunchProgramAsUser makes at the system's edge. Tests replace them to see
// what a start handed over (under Wine every process has the same token, so the
// token's effect itself cannot be observed).
struct UserLaunchCalls {
  HWND(WINAPI* getShellWindow)();
  BOOL(WINAPI* createProcessWithToken)(HANDLE, DWORD, LPCWSTR, LPWSTR, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                                       LPPROCESS_INFORMATION);
};
// Installs `calls` (a null member restores the system's function); returns the previous set.
UserLaunchCalls ReplaceUserLaunchCalls(const UserLaunchCalls& calls);
