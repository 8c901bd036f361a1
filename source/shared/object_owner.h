// Who owns an open file, folder or kernel object, as an elevated process judges it:
// what Administrators or SYSTEM own nobody else made; what this process's own token
// owns or its user owns this process may have made (Wine sets no owner of its own
// and gives its objects the user).
#pragma once
#include <windows.h>
#include <aclapi.h>

enum class OwnerTrust {
  Administrators,  // BUILTIN\Administrators or SYSTEM
  ThisProcess,     // the token's owner or user of this process
  Other,           // anyone else, no owner, or the owner cannot be read
};

OwnerTrust OwnerOf(HANDLE handle, SE_OBJECT_TYPE type);
