#include "shared/folder_creation.h"

#include <atomic>
#include <cstring>

#include "shared/access_trace.h"
#include "shared/path_buffer.h"
#include "shared/raii.h"
#include "shared/texts.h"

namespace {

std::atomic<SetSecurityInfoFunction> g_setSecurityInfo{&SetSecurityInfo};

// Room for the longest path, the line feed and the longest sentence.
constexpr std::size_t kFolderMessageCapacity = kPathCapacity + 256;

// Adds the inheritable full-control entry for the local Users group to the list of
// an open folder. Anything missing on the way leaves the list as it was.
void GrantUsersAccess(HANDLE folder, const char* path) {
  PACL currentList = nullptr;
  UniqueLocal descriptor;
  if (GetSecurityInfo(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &currentList, nullptr,
                      descriptor.Receive()) != ERROR_SUCCESS)
    return;
  // No list at all means unrestricted access; merging one entry into it would
  // shut everybody else out, so it is left alone.
  if (currentList == nullptr) return;

  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  UniqueSid users;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0,
                                0, users.Receive()))
    return;

  EXPLICIT_ACCESS_A entry = {};
  entry.grfAccessPermissions = GENERIC_ALL;
  entry.grfAccessMode = GRANT_ACCESS;
  entry.grfInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  entry.Trustee.pMultipleTrustee = nullptr;
  entry.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry.Trustee.TrusteeType = TRUSTEE_IS_GROUP;
  entry.Trustee.ptstrName = static_cast<LPSTR>(users.Get());

  PACL newList = nullptr;
  const DWORD merged = SetEntriesInAclA(1, &entry, currentList, &newList);
  UniqueLocal newListOwner(newList);
  if (merged != ERROR_SUCCESS || newList == nullptr) return;
  if (g_setSecurityInfo.load()(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, newList,
                               nullptr) == ERROR_SUCCESS)
    TraceAppliedAccessList(path, newList);
}

bool CreateOneFolder(const char* folder, BYTE grantAccess) {
  if (grantAccess) return CreateFolderWithUsersAccess(folder) != 0;
  return CreateDirectoryA(folder, nullptr) != FALSE;
}

const char* FolderFailureSentence(DWORD error) {
  switch (error) {
    case ERROR_PATH_NOT_FOUND:
      return texts::kFolderPathUnknown;
    case ERROR_ACCESS_DENIED:
      return texts::kFolderAccessDenied;
    default:
      return texts::kFolderCreateFailed;
  }
}

}  // namespace

SetSecurityInfoFunction ReplaceSetSecurityInfo(SetSecurityInfoFunction function) {
  return g_setSecurityInfo.exchange(function ? function : &SetSecurityInfo);
}

int CreateFolderWithUsersAccess(const char* path) {
  if (!CreateDirectoryA(path, nullptr)) return 0;
  // Backup semantics are what lets CreateFile open a folder.
  UniqueHandle folder(CreateFileA(path, READ_CONTROL | WRITE_DAC, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder) return 0;
  GrantUsersAccess(folder.Get(), path);
  return 1;
}

bool CreateFolderPath(HWND owner, char* path, BYTE grantAccess, ProgressReport* report) {
  std::size_t length = BoundedLength(path, kPathCapacity);
  if (length == kPathCapacity) path[--length] = '\0';  // never read past the buffer
  while (length > 0 && (path[length - 1] == '\\' || path[length - 1] == '/')) path[--length] = '\0';

  // The text before the first separator (a drive, a server) is never created alone.
  char prefix[kPathCapacity] = {};
  bool separatorSeen = false;
  for (std::size_t i = 0; i < length; ++i) {
    if (path[i] == '/') path[i] = '\\';
    if (path[i] == '\\') {
      if (separatorSeen && CreateOneFolder(prefix, grantAccess) && report) report->FolderCreated(prefix);
      separatorSeen = true;
    }
    prefix[i] = path[i];
  }

  if (CreateOneFolder(path, grantAccess)) {
    if (report) report->FolderCreated(path);
    return true;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS) return true;
  if (report) report->StepFailed(FolderFailureSentence(error), path, error);
  if (owner != nullptr) {
    char message[kFolderMessageCapacity];
    CopyText(message, sizeof(message), path);
    AppendText(message, sizeof(message), "\n");
    AppendText(message, sizeof(message), FolderFailureSentence(error));
    MessageBoxA(owner, message, texts::kErrorCaption, MB_OK);
  }
  return false;
}
