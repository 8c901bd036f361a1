#include "engine/keep_folder.h"

#include <sddl.h>
#include <shlwapi.h>

#include <cstring>

#include "engine/extraction_pace.h"
#include "engine/run_names.h"
#include "shared/access_trace.h"
#include "shared/file_identity.h"
#include "shared/held_folder.h"
#include "shared/object_owner.h"

const char kKeepFolderSecurity[] = "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

namespace {

constexpr char kKeepFolderPrefix[] = "~VelmorixKeep.";


// A keep folder's path split into its volume's root and its name, which must be one
// component right below the root and carry the keep folders' prefix (a journal's
// record is checked before anything is opened by it).
bool SplitKeepPath(const char* path, char* root, const char** name) {
  *name = LastComponent(path);
  return *name != nullptr && VolumeRootOf(path, root) && std::strlen(root) + std::strlen(*name) == std::strlen(path) &&
         std::strncmp(*name, kKeepFolderPrefix, sizeof(kKeepFolderPrefix) - 1) == 0;
}

}  // namespace

bool VolumeRootOf(const char* folder, char* out) {
  if (CopyPath(out, folder) != PathResult::Ok) return false;
  // A drive's root is its first three characters; other forms (UNC) go to shlwapi,
  // which the uninstaller's first process then loads.
  const bool drive = ((out[0] >= 'A' && out[0] <= 'Z') || (out[0] >= 'a' && out[0] <= 'z')) && out[1] == ':' &&
                     out[2] == '\\';
  char* afterRoot = drive ? out + 3 : PathSkipRootA(out);
  if (afterRoot == nullptr) return false;
  *afterRoot = '\0';
  const std::size_t length = std::strlen(out);
  return length > 0 && out[length - 1] == '\\';
}

bool NameKeepFolder(KeepFolder& folder) {
  if (folder.path[0] != '\0') return true;
  char root[kPathCapacity];
  char name[kKeptNameSize];
  if (!VolumeRootOf(folder.root, root) || !RandomName(name, sizeof(name), kKeepFolderPrefix) ||
      AppendPath(root, name) != PathResult::Ok)
    return false;
  CopyPath(folder.path, root);
  folder.identity = FileIdentity{};
  return true;
}

bool HasTrustedOwner(HANDLE handle) { return OwnerOf(handle, SE_FILE_OBJECT) != OwnerTrust::Other; }

bool MakeKeepFolder(KeepFolder& folder, DWORD volumeSerial) {
  char root[kPathCapacity];
  const char* name = nullptr;
  if (!SplitKeepPath(folder.path, root, &name)) return false;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kKeepFolderSecurity, SDDL_REVISION_1, &descriptor, nullptr))
    return false;
  const UniqueLocal descriptorOwner(descriptor);
  const UniqueHandle rootHandle = OpenVolumeRoot(root);
  if (!rootHandle) return false;
  UniqueHandle held;
  CountRunStep();
  if (CreateChildFolder(rootHandle.Get(), name, descriptor, FILE_ATTRIBUTE_HIDDEN, &held) != ChildResult::Done)
    return false;
  TraceAppliedDescriptor(folder.path, descriptor);
  FileIdentity identity;
  if (!ReadIdentity(held.Get(), &identity) || identity.volumeSerial != volumeSerial || !HasTrustedOwner(held.Get()))
    return false;
  folder.identity = identity;
  folder.held = std::move(held);
  return true;
}

bool OpenKeepFolder(const KeepFolder& folder, UniqueHandle* held) {
  char root[kPathCapacity];
  const char* name = nullptr;
  if (!SplitKeepPath(folder.path, root, &name)) return false;
  const UniqueHandle rootHandle = OpenVolumeRoot(root);
  if (!rootHandle || OpenChildFolder(rootHandle.Get(), name, 0, held) != ChildResult::Done) return false;
  FileIdentity identity;
  if (!ReadIdentity(held->Get(), &identity) || !HasTrustedOwner(held->Get()) ||
      (IsKnownIdentity(folder.identity) && !SameIdentity(identity, folder.identity))) {
    held->Reset();
    return false;
  }
  return true;
}

bool RemoveKeepFolder(const KeepFolder& folder, bool filesPending) {
  char root[kPathCapacity];
  const char* name = nullptr;
  if (!SplitKeepPath(folder.path, root, &name)) return false;
  const UniqueHandle rootHandle = OpenVolumeRoot(root);
  UniqueHandle opened;
  if (!rootHandle) return false;
  const ChildResult found = OpenChild(rootHandle.Get(), name, kHeldFolderAccess, &opened);
  if (found == ChildResult::Missing) return true;  // never created, or gone already
  FileIdentity identity;
  if (found != ChildResult::Done || !IsRealFolder(opened.Get()) || !ReadIdentity(opened.Get(), &identity) ||
      !HasTrustedOwner(opened.Get()) || (IsKnownIdentity(folder.identity) && !SameIdentity(identity, folder.identity)))
    return false;
  CountRunStep();
  if (DeleteOpen(opened.Get())) return true;
  // Still holding a file that goes at the restart: the folder follows it then.
  opened.Reset();
  return filesPending && MoveFileExA(folder.path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}
