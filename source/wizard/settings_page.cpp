#include "wizard/settings_page.h"

#include <shlobj.h>

#include "engine/installation_record.h"
#include "resource_ids.h"
#include "shared/command_text.h"
#include "shared/default_folders.h"
#include "shared/failure_texts.h"
#include "shared/folder_creation.h"
#include "shared/path_buffer.h"
#include "shared/raii.h"
#include "shared/texts.h"
#include "wizard/folder_failure_box.h"
#include "wizard/installer_instance.h"
#include "wizard/page_frame.h"
#include "wizard/progress_page.h"

namespace {

// The work folder an earlier installation recorded: the whole content of the workpath
// file beside the program. A missing file, or one too long for a path, is ignored.
void ReadWorkpathFile(InstallerState& state) {
  char path[kPathCapacity];
  if (!JoinPathWhole(path, sizeof(path), state.installDir, texts::kWorkpathTail)) return;
  UniqueHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 || size.QuadPart > LONGLONG{kPathCapacity - 1}) return;
  char content[kPathCapacity] = {};
  DWORD read = 0;
  if (!ReadFile(file.Get(), content, static_cast<DWORD>(size.QuadPart), &read, nullptr)) return;
  content[read] = '\0';
  CopyPath(state.workDir, content);
}

void OnInitDialog(HWND page, InstallerState& state) {
  RestorePagePlacement(page, state.pagePlacement);
  if (state.modeRepair) {
    ReadWorkpathFile(state);
    EnableWindow(GetDlgItem(page, IDC_SETTINGS_INSTALL_EDIT), FALSE);
    EnableWindow(GetDlgItem(page, IDC_SETTINGS_INSTALL_BROWSE), FALSE);
  }
  if (state.modeInstall) {
    SendDlgItemMessageA(page, IDC_SETTINGS_DESKTOP, BM_SETCHECK, BST_CHECKED, 0);
    SendDlgItemMessageA(page, IDC_SETTINGS_START_MENU, BM_SETCHECK, BST_CHECKED, 0);
    SetDefaultInstallFolder(state.installDir);
  }
  if (state.workDir[0] == '\0') SetDefaultWorkFolder(state.workDir, state.installDir);
  SetDlgItemTextA(page, IDC_SETTINGS_INSTALL_EDIT, state.installDir);
  SetDlgItemTextA(page, IDC_SETTINGS_WORK_EDIT, state.workDir);
}

// Lets the user pick a folder; the edit receives it followed by "\Tarkweller\Velmorix".
// A folder too long for that tail leaves the edit unchanged.
void BrowseForFolder(HWND page, int editId) {
  ComApartment apartment(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  ComPtr<IMalloc> allocator;
  if (apartment.Result() != S_OK || SHGetMalloc(allocator.Receive()) != S_OK || !allocator) {
    MessageBoxA(nullptr, texts::kBrowseFailed, texts::kErrorCaption, MB_OK);
    return;
  }
  char displayName[kPathCapacity] = {};
  BROWSEINFOA info{};
  info.hwndOwner = page;
  info.pszDisplayName = displayName;
  info.lpszTitle = texts::kBrowseTitle;
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN | BIF_RETURNFSANCESTORS;
  LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
  if (!chosen) return;
  char folder[kPathCapacity];
  char withSuffix[kPathCapacity];
  if (SHGetPathFromIDListA(chosen, folder) &&
      JoinPathWhole(withSuffix, sizeof(withSuffix), folder, texts::kFolderSuffix)) {
    SetDlgItemTextA(page, editId, withSuffix);
  }
  allocator->Free(chosen);
}

void GoBack(HWND page) {
  HWND modePage = GetParent(page);
  ShowWindow(page, SW_HIDE);
  ShowWindow(modePage, SW_SHOW);
  SetFocus(modePage);
  UpdateWindow(modePage);
}

// Takes an edit's text into a path field. Text longer than a path is refused with a
// message rather than cut into a folder the user never typed.
bool TakeFolder(HWND page, int editId, char* field) {
  if (GetWindowTextLengthA(GetDlgItem(page, editId)) >= static_cast<int>(kPathCapacity)) {
    MessageBoxA(page, texts::kFolderPathUnknown, texts::kErrorCaption, MB_OK);
    return false;
  }
  GetDlgItemTextA(page, editId, field, static_cast<int>(kPathCapacity));
  return true;
}

BYTE IsChecked(HWND page, int checkBoxId) {
  return SendDlgItemMessageA(page, checkBoxId, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void OnNext(HWND page, InstallerState& state) {
  if (!TakeFolder(page, IDC_SETTINGS_INSTALL_EDIT, state.installDir) ||
      !TakeFolder(page, IDC_SETTINGS_WORK_EDIT, state.workDir)) {
    return;
  }
  // A failure is shown in a box owned by this page, which stays open. A folder behind
  // a link is refused before either folder is created.
  for (const char* folder : {state.installDir, state.workDir}) {
    if (RefuseFolderThroughLink(folder, &TheRunLog()))
      return ShowFolderFailure(page, folder, FailureText(FailureCause::ChosenFolderThroughLink));
  }
  ReportPair folderReport(TheRunLog(), PreRunFolders());
  FailureCause failure = CreateFolderPath(state.installDir, 0, &folderReport);
  if (failure != FailureCause::None) return ShowFolderFailure(page, state.installDir, FailureText(failure));
  failure = CreateFolderPath(state.workDir, 1, &folderReport);
  if (failure != FailureCause::None) return ShowFolderFailure(page, state.workDir, FailureText(failure));
  SavePagePlacement(page, state.pagePlacement);
  state.makeDesktopShortcut = IsChecked(page, IDC_SETTINGS_DESKTOP);
  state.makeQuickLaunchShortcut = IsChecked(page, IDC_SETTINGS_START_MENU);
  OpenProgressPage(state.instanceHandle, page);
}

INT_PTR OnCommand(HWND page, int controlId) {
  switch (controlId) {
    case IDC_SETTINGS_INSTALL_BROWSE:
      BrowseForFolder(page, IDC_SETTINGS_INSTALL_EDIT);
      return FALSE;
    case IDC_SETTINGS_WORK_BROWSE:
      BrowseForFolder(page, IDC_SETTINGS_WORK_EDIT);
      return FALSE;
    case IDC_SETTINGS_BACK:
      GoBack(page);
      return FALSE;
    case IDC_SETTINGS_CANCEL:
      SendMessageA(page, WM_CLOSE, 0, 0);
      return FALSE;
    case IDC_SETTINGS_NEXT:
      OnNext(page, TheInstallerState());
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

const PageHandlers kSettingsPageHandlers = {OnInitDialog, OnCommand, nullptr, nullptr};
