#include "integration/shortcuts.h"

#include <objidl.h>
#include <shlobj.h>
#define STRSAFE_NO_DEPRECATE
#include <strsafe.h>

#include <cstring>
#include <memory>
#include <new>

#include "shared/code_page_case.h"
#include "shared/folder_creation.h"
#include "shared/held_file_wait.h"
#include "shared/platform.h"
#include "shared/raii.h"
#include "shared/texts.h"

namespace {

const wchar_t kMakerFolderTail[] = L"\\Tarkweller";
const wchar_t kLinkFileTail[] = L"\\Velmorix.lnk";

std::unique_ptr<char[]> AnsiCopy(const wchar_t* text) {
  int byteCount = 0;
  return std::unique_ptr<char[]>(WideToAnsi(text, &byteCount));
}

struct ShortcutPlace {
  int index;          // for the watch
  int folderId;       // CSIDL of the all-users shell folder, with CSIDL_FLAG_CREATE
  bool makerFolder;   // the shortcut goes into the maker's folder inside it
  char* recordedPath;  // receives the ANSI path on success (kPathCapacity bytes)
  FailureCause folderFailed;
  FailureCause shortcutFailed;
};

// Reports `cause` about the link path (as far as it was composed) with `code`.
bool FailShortcut(ProgressReport& progress, FailureCause cause, const wchar_t* linkPath, unsigned long code) {
  const std::unique_ptr<char[]> path = AnsiCopy(linkPath);
  progress.StepFailed(cause, path && path[0] ? path.get() : nullptr, code);
  return false;
}

bool CreateOneShortcut(const ShortcutChoice& choice, const ShortcutPlace& place, ProgressReport& progress,
                       ShortcutWatch* watch) {
  const char* programExePath = choice.programExePath;
  wchar_t linkPath[kLinkPathCapacity] = {};
  if (programExePath == nullptr) {
    return FailShortcut(progress, place.shortcutFailed, linkPath, ERROR_FILENAME_EXCED_RANGE);
  }
  const HRESULT found = SHGetFolderPathW(nullptr, place.folderId, nullptr, SHGFP_TYPE_CURRENT, linkPath);
  if (FAILED(found)) {
    linkPath[0] = L'\0';
    return FailShortcut(progress, place.folderFailed, linkPath, static_cast<unsigned long>(found));
  }
  std::unique_ptr<char[]> folder;
  if (place.makerFolder) {
    if (FAILED(AppendWidePath(linkPath, kMakerFolderTail))) {
      return FailShortcut(progress, place.shortcutFailed, linkPath, ERROR_FILENAME_EXCED_RANGE);
    }
    folder = AnsiCopy(linkPath);
  }
  // A cut link path would save the shortcut under a wrong name; the uninstaller
  // deletes the file named in the record, so only a whole path is used.
  std::unique_ptr<char[]> recorded;
  if (SUCCEEDED(AppendWidePath(linkPath, kLinkFileTail))) recorded = AnsiCopy(linkPath);
  if (!recorded || std::strlen(recorded.get()) >= kPathCapacity) {
    return FailShortcut(progress, place.shortcutFailed, linkPath, ERROR_FILENAME_EXCED_RANGE);
  }
  const bool makesFolder = folder && GetFileAttributesA(folder.get()) == INVALID_FILE_ATTRIBUTES;
  if (watch && !watch->WillMake(place.index, recorded.get(), makesFolder)) return false;
  // The result does not count: a folder already there keeps its access list and
  // still takes the shortcut.
  if (folder && CreateFolderWithUsersAccess(folder.get())) progress.FolderCreated(folder.get());
  const HRESULT saved = CreateShellShortcut(linkPath, programExePath, choice.installDir, programExePath);
  if (FAILED(saved)) return FailShortcut(progress, place.shortcutFailed, linkPath, static_cast<unsigned long>(saved));
  CopyPath(place.recordedPath, recorded.get());
  progress.ShortcutCreated(place.recordedPath);
  return true;
}

}  // namespace

HRESULT CreateShellShortcut(const wchar_t* linkPath, const char* target, const char* workingFolder,
                            const char* iconFile) {
  ComPtr<IShellLinkA> link;
  HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                    link.ReceiveVoid());
  if (FAILED(result)) return result;
  result = link->SetPath(target);
  if (SUCCEEDED(result)) result = link->SetArguments(nullptr);  // no arguments at all
  if (SUCCEEDED(result)) result = link->SetWorkingDirectory(workingFolder);
  if (SUCCEEDED(result)) result = link->SetIconLocation(iconFile, 0);
  if (SUCCEEDED(result)) result = link->SetHotkey(0);
  if (SUCCEEDED(result)) result = link->SetShowCmd(SW_SHOWNORMAL);
  if (FAILED(result)) return result;
  ComPtr<IPersistFile> file;
  result = link->QueryInterface(IID_IPersistFile, file.ReceiveVoid());
  if (FAILED(result)) return result;
  return file->Save(linkPath, TRUE);  // replaces an existing shortcut file
}

char* WideToAnsi(const wchar_t* text, int* byteCount) {
  *byteCount = 0;
  const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return nullptr;
  char* ansi = new (std::nothrow) char[static_cast<std::size_t>(size)];
  if (ansi == nullptr) return nullptr;
  ansi[0] = '\0';
  *byteCount = WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, size, nullptr, nullptr);
  return ansi;
}

HRESULT AppendWidePath(wchar_t* destination, const wchar_t* source) {
  std::size_t length = 0;
  while (length < kLinkPathCapacity && destination[length] != L'\0') ++length;
  if (length == kLinkPathCapacity) return STRSAFE_E_INVALID_PARAMETER;  // left unchanged
  std::size_t from = 0;
  while (source[from] != L'\0' && length + 1 < kLinkPathCapacity) {
    destination[length++] = source[from++];
  }
  destination[length] = L'\0';
  return source[from] == L'\0' ? S_OK : STRSAFE_E_INSUFFICIENT_BUFFER;
}

bool CreateProgramShortcuts(const ShortcutChoice& choice, const ShortcutPaths& made, ProgressReport& progress,
                            ShortcutWatch* watch) {
  bool succeeded = true;
  if (choice.desktop) {
    const ShortcutPlace desktop = {0, CSIDL_COMMON_DESKTOPDIRECTORY | CSIDL_FLAG_CREATE, false, made.desktop,
                                   FailureCause::DesktopFolderUnknown, FailureCause::DesktopShortcutFailed};
    if (!CreateOneShortcut(choice, desktop, progress, watch)) succeeded = false;
  }
  if (choice.startMenu) {
    // Windows before Vista keeps the shortcut directly in the programs folder.
    const ShortcutPlace startMenu = {1, CSIDL_COMMON_PROGRAMS | CSIDL_FLAG_CREATE, IsVistaOrLater(), made.startMenu,
                                     FailureCause::StartMenuFolderUnknown, FailureCause::StartMenuShortcutFailed};
    if (!CreateOneShortcut(choice, startMenu, progress, watch)) succeeded = false;
  }
  return succeeded;
}

RemovalResult CheckProgramShortcut(const char* linkPath, const char* programExePath) {
  const DWORD attributes = GetFileAttributesA(linkPath);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {Removal::Absent, 0};
    return {Removal::Failed, error};
  }
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return {Removal::NotOurs, 0};
  wchar_t widePath[kLinkPathCapacity];
  if (MultiByteToWideChar(CP_ACP, 0, linkPath, -1, widePath, static_cast<int>(kLinkPathCapacity)) == 0) {
    return {Removal::Failed, GetLastError()};
  }
  ComPtr<IShellLinkA> link;
  HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                    link.ReceiveVoid());
  if (FAILED(result)) return {Removal::Failed, static_cast<unsigned long>(result)};
  ComPtr<IPersistFile> file;
  result = link->QueryInterface(IID_IPersistFile, file.ReceiveVoid());
  if (FAILED(result)) return {Removal::Failed, static_cast<unsigned long>(result)};
  // A new shortcut may be read by the shell a moment longer (Wine's menu builder).
  RetryWhileHeld([&] {
    result = file->Load(widePath, STGM_READ);
    return result == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION);
  });
  if (result == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)) return {Removal::Failed, ERROR_SHARING_VIOLATION};
  if (FAILED(result)) return {Removal::NotOurs, 0};  // not a shortcut at all
  char target[kPathCapacity] = {};
  if (FAILED(link->GetPath(target, static_cast<int>(sizeof(target)), nullptr, SLGP_RAWPATH))) {
    return {Removal::NotOurs, 0};
  }
  const std::size_t length = std::strlen(programExePath);
  if (std::strlen(target) != length || !SameTextCp1251(target, programExePath, length)) {
    return {Removal::NotOurs, 0};
  }
  return {Removal::Removed, 0};
}

RemovalResult RemoveProgramShortcut(const char* linkPath, const char* programExePath) {
  const RemovalResult ours = CheckProgramShortcut(linkPath, programExePath);
  if (ours.outcome != Removal::Removed) return ours;
  BOOL deleted = FALSE;
  RetryWhileHeld([&] {
    deleted = DeleteFileA(linkPath);
    return !deleted && GetLastError() == ERROR_SHARING_VIOLATION;
  });
  if (!deleted) return {Removal::Failed, GetLastError()};
  return {Removal::Removed, 0};
}
