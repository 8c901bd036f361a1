#include "shared/file_identity.h"

#include <winternl.h>

#include <cstring>
#include <cwchar>

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

bool SameTextIgnoringCase(const char* a, int aLength, const char* b, int bLength) {
  return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a, aLength, b, bLength) == CSTR_EQUAL;
}

// "\??\C:\dir\name" or "\??\UNC\server\share\name": the form a rename takes.
bool NativePath(const char* path, WCHAR* out, int capacity) {
  char full[kPathCapacity];
  const DWORD length = GetFullPathNameA(path, sizeof(full), full, nullptr);
  if (length == 0 || length >= sizeof(full)) return false;
  const bool unc = full[0] == '\\' && full[1] == '\\';
  const WCHAR* prefix = unc ? L"\\??\\UNC\\" : L"\\??\\";
  const int prefixLength = static_cast<int>(wcslen(prefix));
  if (capacity <= prefixLength) return false;
  wcscpy(out, prefix);
  const char* rest = unc ? full + 2 : full;
  const int converted = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, rest, -1, out + prefixLength,
                                            capacity - prefixLength);
  return converted > 0;
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

bool RenameOpenFile(HANDLE file, const char* newPath) {
  struct {
    FILE_RENAME_INFO info;
    WCHAR room[kPathCapacity + 16];
  } rename{};
  constexpr int kNameCapacity = static_cast<int>(sizeof(rename.room) / sizeof(WCHAR));
  if (!NativePath(newPath, rename.info.FileName, kNameCapacity)) return false;
  rename.info.ReplaceIfExists = FALSE;
  rename.info.RootDirectory = nullptr;
  rename.info.FileNameLength = static_cast<DWORD>(wcslen(rename.info.FileName) * sizeof(WCHAR));
  return SetFileInformationByHandle(file, FileRenameInfo, &rename, sizeof(rename)) != FALSE;
}

bool FinalPathOf(HANDLE handle, char* out) {
  const DWORD length = GetFinalPathNameByHandleA(handle, out, kFinalPathCapacity, FILE_NAME_NORMALIZED);
  return length > 0 && length < kFinalPathCapacity;
}

bool IsDirectlyInside(const char* folderFinalPath, HANDLE file, const char* name, char* actualName) {
  char filePath[kFinalPathCapacity];
  if (!FinalPathOf(file, filePath)) return false;
  std::size_t folderLength = std::strlen(folderFinalPath);
  if (folderLength > 0 && folderFinalPath[folderLength - 1] == '\\') --folderLength;  // a volume's root
  const std::size_t fileLength = std::strlen(filePath);
  if (fileLength <= folderLength + 1 || filePath[folderLength] != '\\') return false;
  const char* leaf = filePath + folderLength + 1;
  if (std::strchr(leaf, '\\') != nullptr) return false;
  if (!SameTextIgnoringCase(folderFinalPath, static_cast<int>(folderLength), filePath,
                            static_cast<int>(folderLength)) ||
      !SameTextIgnoringCase(leaf, -1, name, -1))
    return false;
  if (actualName) CopyPath(actualName, leaf);
  return true;
}
