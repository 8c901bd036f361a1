#include "shared/file_identity.h"

#include <winternl.h>

#include <cstring>

#include "shared/path_buffer.h"

namespace {

using QueryInformationFile = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);

// The file index alone comes from the system's native call (ntdll is part of every
// process; nothing is loaded for it).
QueryInformationFile NativeQuery() {
  static const QueryInformationFile query = [] {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const FARPROC found = ntdll ? GetProcAddress(ntdll, "NtQueryInformationFile") : nullptr;
    return reinterpret_cast<QueryInformationFile>(reinterpret_cast<void*>(found));
  }();
  return query;
}

}  // namespace

bool SameIdentity(const FileIdentity& a, const FileIdentity& b) {
  return a.volumeSerial == b.volumeSerial && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}

bool IsKnownIdentity(const FileIdentity& identity) { return identity.indexHigh != 0 || identity.indexLow != 0; }

bool ReadAttributes(HANDLE handle, DWORD* attributes) {
  FILE_BASIC_INFO basic{};
  if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic))) return false;
  *attributes = basic.FileAttributes;
  return true;
}

bool ReadIdentityOnVolume(HANDLE handle, DWORD volumeSerial, FileIdentity* identity, DWORD* attributes) {
  const QueryInformationFile query = NativeQuery();
  if (query == nullptr) {
    // Without the native call the whole record is read, the volume with it.
    return ReadIdentity(handle, identity, attributes) && identity->volumeSerial == volumeSerial;
  }
  struct {
    LARGE_INTEGER index;
  } internal{};
  IO_STATUS_BLOCK status{};
  if (query(handle, &status, &internal, sizeof(internal), FileInternalInformation) < 0) return false;
  if (attributes && !ReadAttributes(handle, attributes)) return false;
  identity->volumeSerial = volumeSerial;
  identity->indexHigh = static_cast<DWORD>(internal.index.HighPart);
  identity->indexLow = internal.index.LowPart;
  return true;
}

bool ReadIdentity(HANDLE handle, FileIdentity* identity, DWORD* attributes) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(handle, &information)) return false;
  identity->volumeSerial = information.dwVolumeSerialNumber;
  identity->indexHigh = information.nFileIndexHigh;
  identity->indexLow = information.nFileIndexLow;
  if (attributes) *attributes = information.dwFileAttributes;
  return true;
}

UniqueHandle OpenNoFollow(const char* path, DWORD access) {
  // Backup semantics let the same call open a folder.
  return UniqueHandle(CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

namespace {

// Deletes through the open handle; a read-only file loses the attribute first.
bool DeleteOpenFile(HANDLE file, DWORD attributes) {
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition))) return true;
  if (!(attributes & FILE_ATTRIBUTE_READONLY)) return false;
  FILE_BASIC_INFO basic{};
  basic.FileAttributes = (attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) | FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic)) &&
         SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition));
}

constexpr DWORD kDeleteAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

}  // namespace

bool DeleteIfSame(const char* path, const FileIdentity& identity) {
  if (!IsKnownIdentity(identity)) return false;
  const UniqueHandle file = OpenNoFollow(path, kDeleteAccess);
  FileIdentity found;
  DWORD attributes = 0;
  return file && ReadIdentity(file.Get(), &found, &attributes) && SameIdentity(found, identity) &&
         DeleteOpenFile(file.Get(), attributes);
}

bool DeleteIfSameOnVolume(const char* path, const FileIdentity& identity, DWORD volumeSerial) {
  if (!IsKnownIdentity(identity)) return false;
  const UniqueHandle file = OpenNoFollow(path, kDeleteAccess);
  FileIdentity found;
  DWORD attributes = 0;
  return file && ReadIdentityOnVolume(file.Get(), volumeSerial, &found, &attributes) &&
         SameIdentity(found, identity) && DeleteOpenFile(file.Get(), attributes);
}



