#include "engine/run_lock.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "shared/raii.h"

namespace {

constexpr char kRunLockName[] = "Global\\VelmorixSetupRun";
constexpr char kRunLockSecurity[] = "O:BAD:P(A;;GA;;;BA)(A;;GA;;;SY)";

// Whether the existing mutex belongs to Administrators or SYSTEM (as every installer's
// lock does, given kRunLockSecurity) rather than to whoever made it first.
bool OwnedByAdministrators(HANDLE mutex) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS)
    return false;
  const UniqueLocal descriptorOwner(descriptor);
  return owner != nullptr && IsValidSid(owner) &&
         (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid));
}

}  // namespace

bool TakeRunLock() {
  // Held by this process from here to its end. An owner that was killed leaves it
  // abandoned, which hands it over.
  static UniqueHandle lock;
  if (lock) return true;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kRunLockSecurity, SDDL_REVISION_1, &descriptor, nullptr))
    return false;
  const UniqueLocal descriptorOwner(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  UniqueHandle mutex(CreateMutexA(&attributes, FALSE, kRunLockName));
  if (!mutex) return false;  // a squatter's object this process may not even open
  if (GetLastError() == ERROR_ALREADY_EXISTS && !OwnedByAdministrators(mutex.Get())) return false;
  const DWORD wait = WaitForSingleObject(mutex.Get(), 0);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return false;
  lock = std::move(mutex);
  return true;
}
