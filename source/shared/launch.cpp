#include "shared/launch.h"

#include "shared/command_text.h"
#include "shared/path_buffer.h"
#include "shared/texts.h"

const char* LaunchFailureText(UINT winExecResult) {
  switch (winExecResult) {
    case ERROR_FILE_NOT_FOUND: return texts::kLaunchFileNotFound;
    case ERROR_PATH_NOT_FOUND: return texts::kLaunchPathNotFound;
    case ERROR_BAD_FORMAT: return texts::kLaunchBadExe;
    default: return texts::kLaunchOutOfResources;
  }
}

UINT LaunchProgram(const char* folder, const char* tail) {
  char commandLine[kPathCapacity];
  if (!BuildProgramCommand(commandLine, sizeof(commandLine), folder, tail)) return ERROR_PATH_NOT_FOUND;
  return WinExec(commandLine, SW_SHOW);
}

void LaunchProgramOrReport(HWND owner, const char* folder, const char* tail, const char* caption) {
  const UINT result = LaunchProgram(folder, tail);
  if (result <= 31) MessageBoxA(owner, LaunchFailureText(result), caption, MB_OK);
}
