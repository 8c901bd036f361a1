#include "integration/uninstall_registration.h"

#include <windows.h>

#include <iterator>

#include "integration/registry_writer.h"
#include "shared/command_text.h"
#include "shared/install_date.h"
#include "shared/platform.h"
#include "shared/texts.h"

bool RegisterUninstallEntry(InstallerState& state) {
  // Each text is built whole or not at all: a cut path would name another file.
  char programExePath[kPathCapacity];
  const bool exePathWhole =
      JoinPathWhole(programExePath, sizeof(programExePath), state.installDir, texts::kProgramExeTail);
  // A command line: the path is quoted, since it usually holds a space (Program Files).
  char uninstallCommand[kPathCapacity];
  const bool commandWhole = BuildProgramCommand(uninstallCommand, sizeof(uninstallCommand),
                                                state.installDir, texts::kUninstallExeTail);
  SYSTEMTIME now{};
  GetSystemTime(&now);  // UTC
  char installDate[kInstallDateSize];
  const bool dateWritten = FormatInstallDate(now.wYear, now.wMonth, now.wDay, installDate);

  UniqueKey key;
  if (CreateKeyForWriting(HKEY_LOCAL_MACHINE, texts::kUninstallKeyPath,
                          RegistryWriteAccess(state.is64BitWindows != 0), key) != ERROR_SUCCESS) {
    SetErrorText(state, texts::kRegistryKeyFailed);
    return false;
  }

  const RegistryText values[] = {
      {"Publisher", texts::kPublisher},
      {"InstallDate", dateWritten ? installDate : nullptr},
      {texts::kInstallLocationValue, state.installDir},
      {"Version", texts::kVersion},
      {"DisplayName", texts::kProductTitle},
      {"UninstallString", commandWhole ? uninstallCommand : nullptr},
      {"DisplayIcon", exePathWhole ? programExePath : nullptr},
      {"DisplayVersion", texts::kVersion},
  };
  bool allWritten = WriteTextValues(key.Get(), values, std::size(values));
  if (WriteDwordValue(key.Get(), "NoRepair", 1) != ERROR_SUCCESS) allWritten = false;
  if (WriteDwordValue(key.Get(), "NoModify", 1) != ERROR_SUCCESS) allWritten = false;
  if (!allWritten) {
    SetErrorText(state, texts::kUninstallValuesFailed);
    return false;
  }

  // The uninstaller removes the shortcuts named here; a chosen shortcut that failed
  // is recorded as an empty path. These two results do not count.
  if (state.makeDesktopShortcut) WriteTextValue(key.Get(), "TableShortcut", state.desktopShortcutPath);
  if (state.makeQuickLaunchShortcut) {
    WriteTextValue(key.Get(), "PanelShortcut", state.quickLaunchShortcutPath);
  }
  return true;
}
