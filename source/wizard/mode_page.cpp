#include "wizard/mode_page.h"

#include "resource_ids.h"
#include "engine/run_lock.h"
#include "shared/command_text.h"
#include "shared/launch.h"
#include "shared/path_buffer.h"
#include "shared/platform.h"
#include "shared/raii.h"
#include "shared/texts.h"
#include "wizard/installer_instance.h"
#include "wizard/page_frame.h"
#include "wizard/progress_page.h"
#include "wizard/settings_page.h"

namespace {

// The earlier installation's folder as the registry gave it. A visit to the settings
// page to install overwrites installDir with the default folder; Reinstall and Remove
// chosen afterwards (after Back) must still act on the recorded installation.
char g_recordedInstallDir[kPathCapacity];

// Puts the earlier installation's folder into installDir. False when there is no entry
// or its value does not fit whole: installDir is then left empty.
bool ReadInstallLocation(InstallerState& state) {
  state.installDir[0] = '\0';
  UniqueKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, texts::kUninstallKeyPath, 0, RegistryReadAccess(state.is64BitWindows != 0),
                    key.Receive()) != ERROR_SUCCESS) {
    return false;
  }
  // One byte is kept back so that a value stored without its terminator still ends here.
  DWORD size = kPathCapacity - 1;
  if (RegQueryValueExA(key.Get(), texts::kInstallLocationValue, nullptr, nullptr,
                       reinterpret_cast<BYTE*>(state.installDir), &size) != ERROR_SUCCESS ||
      size > kPathCapacity - 1) {
    // ERROR_MORE_DATA leaves the buffer's content undefined.
    state.installDir[0] = '\0';
    return false;
  }
  state.installDir[size] = '\0';
  return true;
}

void SelectMode(InstallerState& state, int controlId) {
  state.modeInstall = controlId == IDC_MODE_INSTALL ? 1 : 0;
  state.modeRun = controlId == IDC_MODE_RUN ? 1 : 0;
  state.modeRepair = controlId == IDC_MODE_REPAIR ? 1 : 0;
  state.modeRemove = controlId == IDC_MODE_REMOVE ? 1 : 0;
}

void OnInitDialog(HWND page, InstallerState& state) {
  RestorePagePlacement(page, state.pagePlacement);
  if (!ReadInstallLocation(state)) {
    EnableWindow(GetDlgItem(page, IDC_MODE_REPAIR), FALSE);
    EnableWindow(GetDlgItem(page, IDC_MODE_REMOVE), FALSE);
  }
  CopyPath(g_recordedInstallDir, state.installDir);
  SendDlgItemMessageA(page, IDC_MODE_INSTALL, BM_SETCHECK, BST_CHECKED, 0);
}

// Starts the earlier installation's uninstaller and ends, whether it started or not.
// The uninstaller needs the run lock that this process holds and no longer uses.
void RemoveInstallation(HWND page, const InstallerState& state) {
  ReleaseRunLock();
  LaunchProgramOrReport(page, state.installDir, texts::kUninstallExeTail, texts::kUninstallLaunchCaption);
  SendMessageA(page, WM_CLOSE, 0, 0);
}

// Both archives go to one folder under TEMP. A TEMP that is missing or too long for
// the folder's tail is refused: a cut path would unpack somewhere the user never chose.
void RunWithoutInstalling(HWND page, InstallerState& state) {
  char temp[kPathCapacity];
  const DWORD length = GetEnvironmentVariableA("TEMP", temp, sizeof(temp));
  char folder[kPathCapacity];
  if (length == 0 || length >= sizeof(temp) ||
      !JoinPathWhole(folder, sizeof(folder), temp, texts::kTempFolderSuffix)) {
    MessageBoxA(page, texts::kFolderPathUnknown, texts::kErrorCaption, MB_OK);
    return;
  }
  CopyPath(state.installDir, folder);
  CopyPath(state.workDir, state.installDir);
  OpenProgressPage(state.instanceHandle, page);
}

void OnNext(HWND page, InstallerState& state) {
  if (state.modeRemove || state.modeRepair) CopyPath(state.installDir, g_recordedInstallDir);
  if (state.modeRemove) {
    RemoveInstallation(page, state);
  } else if (state.modeInstall || state.modeRepair) {
    SavePagePlacement(page, state.pagePlacement);
    OpenNextPage(state.instanceHandle, page, IDD_SETTINGS_PAGE, kSettingsPageHandlers);
  } else if (state.modeRun) {
    RunWithoutInstalling(page, state);
  }
}

INT_PTR OnCommand(HWND page, int controlId) {
  InstallerState& state = TheInstallerState();
  switch (controlId) {
    case IDC_MODE_INSTALL:
    case IDC_MODE_RUN:
    case IDC_MODE_REPAIR:
    case IDC_MODE_REMOVE:
      SelectMode(state, controlId);
      return TRUE;
    case IDC_MODE_CANCEL:
      SendMessageA(page, WM_CLOSE, 0, 0);
      return TRUE;
    case IDC_MODE_NEXT:
      OnNext(page, state);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

const PageHandlers kModePageHandlers = {OnInitDialog, OnCommand, nullptr, nullptr};
