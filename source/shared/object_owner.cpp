#include "shared/object_owner.h"

#include "shared/raii.h"

namespace {

// The SID of the token's user or owner (TokenUser, TokenOwner) in `buffer`.
PSID TokenSid(HANDLE token, TOKEN_INFORMATION_CLASS kind, unsigned char* buffer, DWORD size) {
  DWORD used = 0;
  if (!GetTokenInformation(token, kind, buffer, size, &used)) return nullptr;
  return kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid
                           : reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner;
}

}  // namespace

OwnerTrust OwnerOf(HANDLE handle, SE_OBJECT_TYPE type) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, type, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &descriptor) !=
      ERROR_SUCCESS)
    return OwnerTrust::Other;
  const UniqueLocal descriptorOwner(descriptor);
  if (owner == nullptr || !IsValidSid(owner)) return OwnerTrust::Other;
  if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid))
    return OwnerTrust::Administrators;
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return OwnerTrust::Other;
  alignas(8) unsigned char buffer[256];
  for (const TOKEN_INFORMATION_CLASS kind : {TokenUser, TokenOwner}) {
    const PSID sid = TokenSid(token.Get(), kind, buffer, sizeof(buffer));
    if (sid != nullptr && EqualSid(owner, sid)) return OwnerTrust::ThisProcess;
  }
  return OwnerTrust::Other;
}
