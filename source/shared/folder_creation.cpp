#include "shared/folder_creation.h"

#include <atomic>
#include <cstring>

#include "shared/access_trace.h"
#include "shared/path_buffer.h"
#include "shared/raii.h"
#include "shared/failure_texts.h"
#include "shared/texts.h"

namespace {

std::atomic<CreateDirectoryFunction> g_createDirectory{&CreateDirectoryA};
std::atomic<FolderObserver> g_folderObserver{nullptr};

// Room for the longest path, the line feed and the longest sentence.
constexpr std::size_t kFolderMessageCapacity = kPathCapacity + 256;

// The access list a new work folder is created with: the one inheritable full-control
// entry for the local Users group. The descriptor does not protect its list, so the
// system adds the entries the parent passes on. Null when the SID or the list cannot
// be built.
UniqueLocal BuildUsersAccessList() {
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  UniqueSid users;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0,
                                0, users.Receive()))
    return UniqueLocal();

  EXPLICIT_ACCESS_A entry = {};
  entry.grfAccessPermissions = GENERIC_ALL;
  entry.grfAccessMode = GRANT_ACCESS;
  entry.grfInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  entry.Trustee.pMultipleTrustee = nullptr;
  entry.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry.Trustee.TrusteeType = TRUSTEE_IS_GROUP;
  entry.Trustee.ptstrName = static_cast<LPSTR>(users.Get());

  PACL list = nullptr;
  const DWORD built = SetEntriesInAclA(1, &entry, nullptr, &list);
  UniqueLocal owner(list);
  if (built != ERROR_SUCCESS) return UniqueLocal();
  return owner;
}

FailureCause FolderFailureCause(DWORD error) {
  switch (error) {
    case ERROR_PATH_NOT_FOUND:
      return FailureCause::FolderPathUnknown;
    case ERROR_ACCESS_DENIED:
      return FailureCause::FolderAccessDenied;
    default:
      return FailureCause::FolderCreateFailed;
  }
}

// The folder, then the sentence, in a box owned by `owner`.
void ShowFolderFailure(HWND owner, const char* path, const char* sentence) {
  char message[kFolderMessageCapacity];
  CopyText(message, sizeof(message), path);
  AppendText(message, sizeof(message), "\n");
  AppendText(message, sizeof(message), sentence);
  MessageBoxA(owner, message, texts::kErrorCaption, MB_OK);
}

bool IsLinked(const char* folder) {
  const DWORD attributes = GetFileAttributesA(folder);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

bool PassesThroughLink(const char* path) {
  char prefix[kPathCapacity];
  if (CopyPath(prefix, path) != PathResult::Ok) return true;
  const std::size_t length = BoundedLength(prefix, kPathCapacity);
  // The root ("C:\", "\\server\share\") begins every path and is no link.
  std::size_t i = 0;
  if ((prefix[0] == '\\' || prefix[0] == '/') && (prefix[1] == '\\' || prefix[1] == '/')) {
    int separators = 0;
    for (i = 2; i < length && separators < 2; ++i) {
      if (prefix[i] == '\\' || prefix[i] == '/') ++separators;
    }
  } else {
    i = length < 3 ? length : 3;
  }
  for (; i < length; ++i) {
    if (prefix[i] != '\\' && prefix[i] != '/') continue;
    const char separator = prefix[i];
    prefix[i] = '\0';
    const bool linked = IsLinked(prefix);
    prefix[i] = separator;
    if (linked) return true;
  }
  return IsLinked(prefix);
}

bool RefuseFolderThroughLink(HWND owner, const char* path, ProgressReport* report) {
  if (!PassesThroughLink(path)) return false;
  if (report) report->StepFailed(FailureCause::ChosenFolderThroughLink, path, ERROR_REPARSE_ATTRIBUTE_CONFLICT);
  if (owner != nullptr) ShowFolderFailure(owner, path, FailureText(FailureCause::ChosenFolderThroughLink));
  return true;
}

CreateDirectoryFunction ReplaceCreateDirectory(CreateDirectoryFunction function) {
  return g_createDirectory.exchange(function ? function : &CreateDirectoryA);
}

FolderObserver ObserveFolderCreation(FolderObserver observer) { return g_folderObserver.exchange(observer); }

ChildResult CreateFolderIn(HANDLE parent, const char* name, const char* path, BYTE grantAccess, UniqueHandle* folder) {
  const UniqueLocal list = grantAccess ? BuildUsersAccessList() : UniqueLocal();
  // As for CreateDirectory: the list is given in the creation call itself, unprotected,
  // so the system adds what the parent passes on.
  SECURITY_DESCRIPTOR descriptor;
  const bool withList = list && InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                        SetSecurityDescriptorDacl(&descriptor, TRUE, static_cast<PACL>(list.Get()), FALSE);
  const SECURITY_ATTRIBUTES attributes{sizeof(attributes), withList ? &descriptor : nullptr, FALSE};
  if (const FolderObserver observer = g_folderObserver.load()) observer(path, withList ? &attributes : nullptr);
  const ChildResult created = CreateChildFolder(parent, name, withList ? &descriptor : nullptr, 0, folder);
  if (created == ChildResult::Done && withList) TraceAppliedAccessList(path, static_cast<PACL>(list.Get()));
  return created;
}

int CreateFolderWithUsersAccess(const char* path) {
  const UniqueLocal list = BuildUsersAccessList();
  if (!list) {
    // Nothing to hand over: the folder is still made, with the parent's entries only.
    return g_createDirectory.load()(path, nullptr) ? 1 : 0;
  }
  // The list is given to CreateDirectory itself: the folder never exists without it,
  // and is never opened again by name to change it.
  SECURITY_DESCRIPTOR descriptor;
  if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, static_cast<PACL>(list.Get()), FALSE))
    return g_createDirectory.load()(path, nullptr) ? 1 : 0;
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), &descriptor, FALSE};
  if (!g_createDirectory.load()(path, &attributes)) return 0;
  TraceAppliedAccessList(path, static_cast<PACL>(list.Get()));
  return 1;
}

bool CreateSingleFolder(const char* path, BYTE grantAccess) {
  if (grantAccess) return CreateFolderWithUsersAccess(path) != 0;
  return g_createDirectory.load()(path, nullptr) != FALSE;
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
      if (separatorSeen && CreateSingleFolder(prefix, grantAccess) && report) report->FolderCreated(prefix);
      separatorSeen = true;
    }
    prefix[i] = path[i];
  }

  if (CreateSingleFolder(path, grantAccess)) {
    if (report) report->FolderCreated(path);
    return true;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS) return true;
  if (report) report->StepFailed(FolderFailureCause(error), path, error);
  if (owner != nullptr) ShowFolderFailure(owner, path, FailureText(FolderFailureCause(error)));
  return false;
}
