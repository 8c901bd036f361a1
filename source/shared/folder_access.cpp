#include "shared/folder_access.h"

#include <aclapi.h>

#include <atomic>

#include "shared/access_trace.h"

namespace {

std::atomic<CreateDirectoryFunction> g_createDirectory{&CreateDirectoryA};
std::atomic<FolderObserver> g_folderObserver{nullptr};

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

}  // namespace

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
