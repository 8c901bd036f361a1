#include "shared/default_folders.h"

#include <windows.h>

#include "shared/command_text.h"
#include "shared/path_buffer.h"
#include "shared/platform.h"
#include "shared/texts.h"

namespace {

// Environment value + "\Tarkweller\Velmorix" into `field`, or nothing.
void SetFolderBelow(char* field, const char* variable) {
  char value[kPathCapacity];
  const DWORD length = GetEnvironmentVariableA(variable, value, sizeof(value));
  if (length == 0 || length >= sizeof(value)) return;
  char folder[kPathCapacity];
  if (JoinPathWhole(folder, sizeof(folder), value, texts::kFolderSuffix)) CopyPath(field, folder);
}

}  // namespace

void SetDefaultInstallFolder(char* installDir) { SetFolderBelow(installDir, "PROGRAMFILES"); }

void SetDefaultWorkFolder(char* workDir, const char* installDir) {
  if (IsVistaOrLater()) {
    SetFolderBelow(workDir, "ALLUSERSPROFILE");
  } else {
    CopyPath(workDir, installDir);
  }
}
