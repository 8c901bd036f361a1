#include "shared/held_folder.h"

#include <winternl.h>

#include <cstring>

#include "shared/file_identity.h"
#include "shared/held_file_wait.h"
#include "shared/path_buffer.h"

namespace {

// The native calls, from ntdll (part of every process; nothing is loaded for them).
using CreateFileCall = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                        ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using SetInformationCall = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
using QueryDirectoryCall = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG,
                                            BOOLEAN, PUNICODE_STRING, BOOLEAN);
using StatusToErrorCall = ULONG(NTAPI*)(NTSTATUS);

struct NativeCalls {
  CreateFileCall createFile = nullptr;
  SetInformationCall setInformation = nullptr;
  QueryDirectoryCall queryDirectory = nullptr;
  StatusToErrorCall statusToError = nullptr;
};

template <typename T>
T Find(HMODULE module, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(module ? GetProcAddress(module, name) : nullptr));
}

const NativeCalls& Native() {
  static const NativeCalls calls = [] {
    NativeCalls found;
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    found.createFile = Find<CreateFileCall>(ntdll, "NtCreateFile");
    found.setInformation = Find<SetInformationCall>(ntdll, "NtSetInformationFile");
    found.queryDirectory = Find<QueryDirectoryCall>(ntdll, "NtQueryDirectoryFile");
    found.statusToError = Find<StatusToErrorCall>(ntdll, "RtlNtStatusToDosError");
    return found;
  }();
  return calls;
}

constexpr NTSTATUS kObjectNameCollision = static_cast<NTSTATUS>(0xC0000035);
constexpr NTSTATUS kObjectNameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS kNotADirectory = static_cast<NTSTATUS>(0xC0000103);
constexpr NTSTATUS kFileIsADirectory = static_cast<NTSTATUS>(0xC00000BA);
constexpr ULONG kFileIdBothDirectoryInformation = 37;
constexpr ULONG kFileRenameInformation = 10;
// One name of at most MAX_PATH characters, in UTF-16.
constexpr int kWideCapacity = 260;

// One path component in UTF-16, as the native calls take it. False for an empty
// name, a separator inside it, or a name that does not convert.
struct WideName {
  wchar_t text[kWideCapacity];
  UNICODE_STRING string;
  // Sets the last error on false.
  bool Set(const char* name) {
    SetLastError(ERROR_INVALID_NAME);
    if (name == nullptr || name[0] == '\0' || std::strchr(name, '\\') || std::strchr(name, '/')) return false;
    const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, text, kWideCapacity);
    if (length <= 1) return false;
    string.Buffer = text;
    string.Length = static_cast<USHORT>(static_cast<unsigned>(length - 1) * sizeof(wchar_t));
    string.MaximumLength = static_cast<USHORT>(static_cast<unsigned>(length) * sizeof(wchar_t));
    return true;
  }
};

// Records `status` as the thread's last error; true when it is a success.
bool Succeeded(NTSTATUS status) {
  if (status >= 0) return true;
  const StatusToErrorCall toError = Native().statusToError;
  SetLastError(toError ? toError(status) : ERROR_GEN_FAILURE);
  return false;
}

// NtCreateFile relative to `parent` (a null name opens `parent` itself again).
NTSTATUS CreateRelative(HANDLE parent, const UNICODE_STRING* name, DWORD access, ULONG share, ULONG disposition,
                        ULONG options, PSECURITY_DESCRIPTOR descriptor, UniqueHandle* out,
                        ULONG fileAttributes = FILE_ATTRIBUTE_NORMAL) {
  const CreateFileCall create = Native().createFile;
  if (create == nullptr || parent == nullptr) return static_cast<NTSTATUS>(0xC0000001);
  UNICODE_STRING empty{0, 0, nullptr};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, const_cast<UNICODE_STRING*>(name ? name : &empty), OBJ_CASE_INSENSITIVE,
                             parent, descriptor);
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  const NTSTATUS status =
      create(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr, fileAttributes, share, disposition,
             options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
  if (status >= 0) out->Reset(handle);
  return status;
}

// What the folder's listing says of `name`: by name the system shows a link planted
// by another system's tools (a Unix symbolic link under Wine) that an open handle
// does not. A fresh handle of the folder is listed, since a listing's pattern is
// fixed by a handle's first listing.
// The listing's entry for `name`: its attributes and, when asked, its file index
// (`fileId`) and its name as spelt on disk in the code page (`actualName`,
// kWideCapacity bytes).
ChildResult ListedEntry(HANDLE parent, const WideName& name, ULONG* attributes, ULONGLONG* fileId,
                        char* actualName) {
  UniqueHandle listing;
  if (Native().queryDirectory == nullptr) return ChildResult::Failed;
  if (!Succeeded(CreateRelative(parent, nullptr, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                FILE_SHARE_DELETE, FILE_OPEN, FILE_DIRECTORY_FILE, nullptr, &listing)))
    return ChildResult::Failed;
  alignas(8) unsigned char buffer[sizeof(FILE_ID_BOTH_DIR_INFO) + kWideCapacity * sizeof(wchar_t)];
  IO_STATUS_BLOCK io{};
  UNICODE_STRING pattern = name.string;
  const NTSTATUS status = Native().queryDirectory(listing.Get(), nullptr, nullptr, nullptr, &io, buffer, sizeof(buffer),
                                                  kFileIdBothDirectoryInformation, TRUE, &pattern, TRUE);
  if (status == kObjectNameNotFound || status == static_cast<NTSTATUS>(0x80000006) ||
      status == static_cast<NTSTATUS>(0xC000000F))
    return ChildResult::Missing;
  if (!Succeeded(status)) return ChildResult::Failed;
  std::memcpy(attributes, buffer + offsetof(FILE_ID_BOTH_DIR_INFO, FileAttributes), sizeof(*attributes));
  if (fileId != nullptr) std::memcpy(fileId, buffer + offsetof(FILE_ID_BOTH_DIR_INFO, FileId), sizeof(*fileId));
  if (actualName == nullptr) return ChildResult::Done;
  ULONG nameBytes = 0;
  std::memcpy(&nameBytes, buffer + offsetof(FILE_ID_BOTH_DIR_INFO, FileNameLength), sizeof(nameBytes));
  const std::size_t nameOffset = offsetof(FILE_ID_BOTH_DIR_INFO, FileName);
  if (nameBytes == 0 || nameBytes > sizeof(buffer) - nameOffset) return ChildResult::Failed;
  wchar_t wide[kWideCapacity] = {};
  std::memcpy(wide, buffer + nameOffset, nameBytes);
  BOOL substituted = FALSE;
  const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, static_cast<int>(nameBytes / 2),
                                         actualName, kWideCapacity - 1, nullptr, &substituted);
  if (length <= 0 || substituted) return ChildResult::Failed;
  actualName[length] = '\0';
  return ChildResult::Done;
}

ChildResult ListedKind(HANDLE parent, const WideName& name, ULONGLONG* fileId = nullptr) {
  ULONG attributes = 0;
  const ChildResult listed = ListedEntry(parent, name, &attributes, fileId, nullptr);
  if (listed != ChildResult::Done) return listed;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return ChildResult::Link;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ChildResult::NotAFolder;
  return ChildResult::Done;
}

// The checks of a folder just opened: a real folder on the volume asked for, and so
// listed by name, the listed entry being the folder opened. (Wine opens a link's target
// without a trace in the handle: a name flipped to a link and back between the open
// and the listing shows in the listing as another folder.)
ChildResult VerifyFolder(HANDLE parent, const WideName& name, DWORD volumeSerial, UniqueHandle* folder) {
  DWORD attributes = 0;
  ChildResult verdict = ChildResult::Done;
  FileIdentity identity;
  if (volumeSerial != 0) {
    if (!ReadIdentity(folder->Get(), &identity, &attributes)) verdict = ChildResult::Failed;
    else if (identity.volumeSerial != volumeSerial) verdict = ChildResult::Link;  // a volume mounted here
  } else if (!ReadIdentityOnVolume(folder->Get(), 0, &identity, &attributes)) {
    verdict = ChildResult::Failed;
  }
  if (verdict == ChildResult::Done) {
    ULONGLONG listedId = 0;
    const ULONGLONG openedId = static_cast<ULONGLONG>(identity.indexHigh) << 32 | identity.indexLow;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) verdict = ChildResult::Link;
    else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) verdict = ChildResult::NotAFolder;
    else if ((verdict = ListedKind(parent, name, &listedId)) == ChildResult::Done && listedId != openedId)
      verdict = ChildResult::Link;
  }
  if (verdict != ChildResult::Done) {
    folder->Reset();
    if (verdict == ChildResult::Link) SetLastError(ERROR_CANT_ACCESS_FILE);
  }
  return verdict;
}

ChildResult FromStatus(NTSTATUS status) {
  if (Succeeded(status)) return ChildResult::Done;
  if (status == kObjectNameNotFound || status == static_cast<NTSTATUS>(0xC000003A)) return ChildResult::Missing;
  if (status == kObjectNameCollision) return ChildResult::Exists;
  if (status == kNotADirectory) return ChildResult::NotAFolder;
  return ChildResult::Failed;
}

constexpr ULONG kHoldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

}  // namespace

UniqueHandle OpenVolumeRoot(const char* root) {
  return UniqueHandle(CreateFileA(root, kHeldFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

ChildResult OpenChildFolder(HANDLE parent, const char* name, DWORD volumeSerial, UniqueHandle* folder) {
  folder->Reset();
  WideName wide;
  if (!wide.Set(name)) return ChildResult::Failed;
  const ChildResult opened = FromStatus(CreateRelative(parent, &wide.string, kHeldFolderAccess, kHoldShare, FILE_OPEN,
                                                       FILE_DIRECTORY_FILE, nullptr, folder));
  if (opened != ChildResult::Done) {
    // A name listed as a link is one, whether or not it could be opened.
    return ListedKind(parent, wide) == ChildResult::Link ? ChildResult::Link : opened;
  }
  return VerifyFolder(parent, wide, volumeSerial, folder);
}

ChildResult CreateChildFolder(HANDLE parent, const char* name, PSECURITY_DESCRIPTOR descriptor, DWORD attributes,
                              UniqueHandle* folder) {
  folder->Reset();
  WideName wide;
  if (!wide.Set(name)) return ChildResult::Failed;
  const ChildResult created = FromStatus(CreateRelative(parent, &wide.string, kHeldFolderAccess, kHoldShare,
                                                        FILE_CREATE, FILE_DIRECTORY_FILE, descriptor, folder,
                                                        attributes ? attributes : FILE_ATTRIBUTE_NORMAL));
  if (created != ChildResult::Done) return created;
  return VerifyFolder(parent, wide, 0, folder);
}

ChildResult CreateChildFile(HANDLE parent, const char* name, UniqueHandle* file) {
  file->Reset();
  WideName wide;
  if (!wide.Set(name)) return ChildResult::Failed;
  const ChildResult created =
      FromStatus(CreateRelative(parent, &wide.string, GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                                FILE_CREATE, FILE_NON_DIRECTORY_FILE, nullptr, file));
  return created == ChildResult::Missing ? ChildResult::Failed : created;
}

ChildResult OpenChild(HANDLE parent, const char* name, DWORD access, UniqueHandle* file) {
  file->Reset();
  WideName wide;
  if (!wide.Set(name)) return ChildResult::Failed;
  const NTSTATUS status = CreateRelative(parent, &wide.string, access | DELETE | FILE_READ_ATTRIBUTES |
                                         FILE_WRITE_ATTRIBUTES, kHoldShare, FILE_OPEN, 0, nullptr, file);
  if (status == kFileIsADirectory) return ChildResult::NotAFolder;
  return FromStatus(status);
}

ChildResult OpenChildToMove(HANDLE parent, const char* name, UniqueHandle* file) {
  ChildResult opened = ChildResult::Failed;
  RetryWhileHeld([&] {
    opened = OpenChild(parent, name, 0, file);
    return opened == ChildResult::Failed && GetLastError() == ERROR_SHARING_VIOLATION;
  });
  return opened;
}

ChildResult FindChildFile(HANDLE parent, const char* name, char* actualName) {
  WideName wide;
  if (!wide.Set(name)) return ChildResult::Failed;
  ULONG attributes = 0;
  const ChildResult listed = ListedEntry(parent, wide, &attributes, nullptr, actualName);
  if (listed != ChildResult::Done) return listed;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return ChildResult::Link;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ChildResult::Exists;
  return ChildResult::Done;
}

bool RenameInto(HANDLE file, HANDLE folder, const char* newName) {
  WideName wide;
  if (!wide.Set(newName) || Native().setInformation == nullptr) return false;
  // FILE_RENAME_INFORMATION with its name in place.
  struct {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    wchar_t fileName[kWideCapacity];
  } rename{};
  rename.replaceIfExists = FALSE;
  rename.rootDirectory = folder;
  rename.fileNameLength = wide.string.Length;
  std::memcpy(rename.fileName, wide.text, wide.string.Length);
  IO_STATUS_BLOCK io{};
  return Succeeded(Native().setInformation(file, &io, &rename, sizeof(rename), kFileRenameInformation));
}

bool DeleteOpen(HANDLE file) {
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition))) return true;
  const DWORD error = GetLastError();
  DWORD attributes = 0;
  if (error != ERROR_ACCESS_DENIED || !ReadAttributes(file, &attributes) || !(attributes & FILE_ATTRIBUTE_READONLY)) {
    SetLastError(error);
    return false;
  }
  FILE_BASIC_INFO basic{};
  basic.FileAttributes = (attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) | FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic)) &&
         SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition));
}

DWORD LinkCount(HANDLE file) {
  FILE_STANDARD_INFO standard{};
  if (!GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof(standard))) return 0;
  return standard.NumberOfLinks;
}

bool IsRealFolder(HANDLE handle) {
  DWORD attributes = 0;
  return ReadAttributes(handle, &attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}
