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

  char keyName[kPathCapacity];
  CopyPath(keyName, "HKLM\\");
  AppendPath(keyName, texts::kUninstallKeyPath);
  UniqueKey key;
  const LONG created = CreateKeyForWriting(HKEY_LOCAL_MACHINE, texts::kUninstallKeyPath,
                                           RegistryWriteAccess(state.is64BitWindows != 0), key);
  if (created != ERROR_SUCCESS) {
    ReportFailure(state, texts::kRegistryKeyFailed, keyName, static_cast<unsigned long>(created));
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
  LONG lastError = ERROR_SUCCESS;
  bool allWritten = WriteTextValues(key.Get(), values, std::size(values), &lastError);
  for (const char* flag : {"NoRepair", "NoModify"}) {
    const LONG result = WriteDwordValue(key.Get(), flag, 1);
    if (result == ERROR_SUCCESS) continue;
    allWritten = false;
    lastError = result;
  }
  if (!allWritten) {
    ReportFailure(state, texts::kUninstallValuesFailed, keyName, static_cast<unsigned long>(lastError));
    return false;
  }

  // The uninstaller removes the shortcuts named here; a chosen shortcut that failed
  // is recorded as an empty path. These two results do not count.
  if (state.makeDesktopShortcut) WriteTextValue(key.Get(), "TableShortcut", state.desktopShortcutPath);
  if (state.makeQuickLaunchShortcut) {
    WriteTextValue(key.Get(), "PanelShortcut", state.quickLaunchShortcutPath);
  }
  ProgressOf(state).UninstallEntryWritten(keyName);
  return true;
}
