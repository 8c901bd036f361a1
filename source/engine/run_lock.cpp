#include "engine/run_lock.h"

#include <windows.h>
#include <sddl.h>

#include "shared/object_owner.h"
#include "shared/raii.h"

namespace {

constexpr char kRunLockName[] = "Global\\VelmorixSetupRun";
constexpr char kRunLockSecurity[] = "O:BAD:P(A;;GA;;;BA)(A;;GA;;;SY)";

// Held by this process from TakeRunLock to ReleaseRunLock or its end. An owner that
// was killed leaves it abandoned, which hands it over.
UniqueHandle g_lock;

}  // namespace

bool TakeRunLock() {
  if (g_lock) return true;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kRunLockSecurity, SDDL_REVISION_1, &descriptor, nullptr))
    return false;
  const UniqueLocal descriptorOwner(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  UniqueHandle mutex(CreateMutexA(&attributes, FALSE, kRunLockName));
  if (!mutex) return false;  // a squatter's object this process may not even open
  // Every installer's lock is owned by Administrators (kRunLockSecurity); one made
  // first by anybody else is a squatter's.
  if (GetLastError() == ERROR_ALREADY_EXISTS && OwnerOf(mutex.Get(), SE_KERNEL_OBJECT) != OwnerTrust::Administrators) return false;
  const DWORD wait = WaitForSingleObject(mutex.Get(), 0);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return false;
  g_lock = std::move(mutex);
  return true;
}

void ReleaseRunLock() {
  if (g_lock) ReleaseMutex(g_lock.Get());
  g_lock.Reset();
}
