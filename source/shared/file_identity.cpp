#include "shared/file_identity.h"

#include <cstring>
#include <cwchar>

#include "shared/path_buffer.h"

namespace {

// A final path can be longer than the path that was opened (short names expand).
constexpr DWORD kFinalPathCapacity = 1024;

bool FinalPath(HANDLE handle, char* out) {
  const DWORD length = GetFinalPathNameByHandleA(handle, out, kFinalPathCapacity, FILE_NAME_NORMALIZED);
  return length > 0 && length < kFinalPathCapacity;
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

bool DeleteIfSame(const char* path, const FileIdentity& identity) {
  if (!IsKnownIdentity(identity)) return false;
  const UniqueHandle file = OpenNoFollow(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
  FileIdentity found;
  DWORD attributes = 0;
  if (!file || !ReadIdentity(file.Get(), &found, &attributes) || !SameIdentity(found, identity)) return false;
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition, sizeof(disposition))) return true;
  // A read-only file refuses deletion until the attribute is gone.
  if (!(attributes & FILE_ATTRIBUTE_READONLY)) return false;
  FILE_BASIC_INFO basic{};
  basic.FileAttributes = (attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) | FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(file.Get(), FileBasicInfo, &basic, sizeof(basic)) &&
         SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition, sizeof(disposition));
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

bool IsDirectlyInside(HANDLE folder, HANDLE file, const char* name, char* actualName) {
  char folderPath[kFinalPathCapacity];
  char filePath[kFinalPathCapacity];
  if (!FinalPath(folder, folderPath) || !FinalPath(file, filePath)) return false;
  std::size_t folderLength = std::strlen(folderPath);
  if (folderLength > 0 && folderPath[folderLength - 1] == '\\') --folderLength;  // a volume's root
  const std::size_t fileLength = std::strlen(filePath);
  if (fileLength <= folderLength + 1 || filePath[folderLength] != '\\') return false;
  const char* leaf = filePath + folderLength + 1;
  if (std::strchr(leaf, '\\') != nullptr) return false;
  if (!SameTextIgnoringCase(folderPath, static_cast<int>(folderLength), filePath, static_cast<int>(folderLength)) ||
      !SameTextIgnoringCase(leaf, -1, name, -1))
    return false;
  if (actualName) CopyPath(actualName, leaf);
  return true;
}
