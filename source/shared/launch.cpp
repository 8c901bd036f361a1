#include "shared/launch.h"

#include "shared/command_text.h"
#include "shared/path_buffer.h"
#include "shared/raii.h"
#include "shared/texts.h"

namespace {

// Set by the user-interface thread only (the pages start programs, tests replace them).
UserLaunchCalls g_userLaunch{&GetShellWindow, &CreateProcessWithTokenW};

// Any result above 31 means started, as WinExec reports it.
constexpr UINT kStarted = 32;

}  // namespace

const char* LaunchFailureText(UINT winExecResult) {
  switch (winExecResult) {
    case ERROR_FILE_NOT_FOUND: return texts::kLaunchFileNotFound;
    case ERROR_PATH_NOT_FOUND: return texts::kLaunchPathNotFound;
    case ERROR_BAD_FORMAT: return texts::kLaunchBadExe;
    default: return texts::kLaunchOutOfResources;
  }
}

UINT LaunchResultOfError(DWORD systemError) {
  switch (systemError) {
    case ERROR_FILE_NOT_FOUND: return ERROR_FILE_NOT_FOUND;
    case ERROR_PATH_NOT_FOUND: return ERROR_PATH_NOT_FOUND;
    case ERROR_BAD_EXE_FORMAT: return ERROR_BAD_FORMAT;
    default: return 0;
  }
}

UINT LaunchProgram(const char* folder, const char* tail) {
  char commandLine[kPathCapacity];
  if (!BuildProgramCommand(commandLine, sizeof(commandLine), folder, tail)) return ERROR_PATH_NOT_FOUND;
  return WinExec(commandLine, SW_SHOW);
}

UINT LaunchProgramAsUser(const char* folder, const char* tail) {
  char commandLine[kPathCapacity];
  if (!BuildProgramCommand(commandLine, sizeof(commandLine), folder, tail)) return ERROR_PATH_NOT_FOUND;
  const UserLaunchCalls calls = g_userLaunch;
  const HWND shell = calls.getShellWindow();
  DWORD shellProcessId = 0;
  if (shell != nullptr) GetWindowThreadProcessId(shell, &shellProcessId);
  // No desktop shell (a service desktop, a minimal session): nobody to start it as, and
  // never as the installer itself.
  if (shellProcessId == 0) return LaunchResultOfError(ERROR_NO_TOKEN);

  const UniqueHandle shellProcess(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellProcessId));
  UniqueHandle shellToken;
  UniqueHandle userToken;
  if (!shellProcess || !OpenProcessToken(shellProcess.Get(), TOKEN_DUPLICATE, shellToken.Receive()) ||
      !DuplicateTokenEx(shellToken.Get(),
                        TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT |
                            TOKEN_ADJUST_SESSIONID,
                        nullptr, SecurityImpersonation, TokenPrimary, userToken.Receive()))
    return LaunchResultOfError(GetLastError());

  WCHAR wideCommand[kPathCapacity];
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, commandLine, -1, wideCommand, kPathCapacity) == 0) return 0;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION started{};
  if (!calls.createProcessWithToken(userToken.Get(), 0, nullptr, wideCommand, 0, nullptr, nullptr, &startup,
                                    &started))
    return LaunchResultOfError(GetLastError());
  const UniqueHandle process(started.hProcess);
  const UniqueHandle thread(started.hThread);
  return kStarted;
}

void LaunchProgramOrReport(HWND owner, const char* folder, const char* tail, const char* caption) {
  const UINT result = LaunchProgram(folder, tail);
  if (result <= 31) MessageBoxA(owner, LaunchFailureText(result), caption, MB_OK);
}

void LaunchProgramAsUserOrReport(HWND owner, const char* folder, const char* tail, const char* caption) {
  const UINT result = LaunchProgramAsUser(folder, tail);
  if (result <= 31) MessageBoxA(owner, LaunchFailureText(result), caption, MB_OK);
}

UserLaunchCalls ReplaceUserLaunchCalls(const UserLaunchCalls& calls) {
  const UserLaunchCalls previous = g_userLaunch;
  g_userLaunch.getShellWindow = calls.getShellWindow ? calls.getShellWindow : &GetShellWindow;
  g_userLaunch.createProcessWithToken =
      calls.createProcessWithToken ? calls.createProcessWithToken : &CreateProcessWithTokenW;
  return previous;
}
