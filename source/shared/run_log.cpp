#include "shared/run_log.h"

#include <shlwapi.h>
#include <winternl.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <utility>

#include "shared/folder_walk.h"
#include "shared/path_buffer.h"
#include "shared/failure_texts.h"
#include "shared/texts.h"

namespace {

// The fixed texts are stored in code page 1251 whatever the system's code page is.
constexpr UINT kTextCodePage = 1251;
// Wide characters converted to UTF-8 at a time: at most three bytes each.
constexpr std::size_t kWideChunk = 256;
// The longest text a piece converts: errorText and every path fit in it.
constexpr std::size_t kPieceCapacity = 2048;

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }

}  // namespace

LogLine& LogLine::Text(const char* text) {
  AppendConverted(text, kTextCodePage);
  return *this;
}

LogLine& LogLine::Path(const char* path) {
  AppendConverted(path, CP_ACP);
  return *this;
}

LogLine& LogLine::Wide(const wchar_t* text) {
  if (text != nullptr) AppendWide(text, std::wcslen(text));
  return *this;
}

LogLine& LogLine::Number(unsigned long long value) {
  char digits[24];
  std::snprintf(digits, sizeof(digits), "%llu", value);
  AppendBytes(digits, std::strlen(digits));
  return *this;
}

LogLine& LogLine::ErrorCode(unsigned long code) {
  // HRESULTs have the failure bit set and read better as the hexadecimal they are known by.
  if (code & 0x80000000ul) {
    char digits[16];
    std::snprintf(digits, sizeof(digits), "0x%08lX", code);
    AppendBytes(digits, std::strlen(digits));
    return *this;
  }
  return Number(code);
}

void LogLine::AppendConverted(const char* text, UINT codePage) {
  if (text == nullptr || text[0] == '\0') return;
  const std::size_t length = BoundedLength(text, kPieceCapacity);
  wchar_t wide[kPieceCapacity];
  // No more wide characters than bytes in the single- and double-byte code pages.
  const int count = MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), wide,
                                        static_cast<int>(kPieceCapacity));
  if (count <= 0) return MarkCut();
  AppendWide(wide, static_cast<std::size_t>(count));
  if (length == kPieceCapacity) MarkCut();
}

void LogLine::AppendWide(const wchar_t* text, std::size_t count) {
  std::size_t done = 0;
  while (done < count && !cut_) {
    std::size_t chunk = count - done < kWideChunk ? count - done : kWideChunk;
    // A surrogate pair is converted whole or not at all.
    if (done + chunk < count && IsHighSurrogate(text[done + chunk - 1])) --chunk;
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text + done, static_cast<int>(chunk), nullptr, 0, nullptr,
                                           nullptr);
    if (needed <= 0 || length_ + static_cast<std::size_t>(needed) > kCapacity - kReserve) return MarkCut();
    length_ += static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, text + done, static_cast<int>(chunk),
                                                            bytes_ + length_, needed, nullptr, nullptr));
    done += chunk;
  }
}

void LogLine::AppendBytes(const char* bytes, std::size_t count) {
  if (cut_) return;
  if (length_ + count > kCapacity - kReserve) return MarkCut();
  std::memcpy(bytes_ + length_, bytes, count);
  length_ += count;
}

void LogLine::MarkCut() {
  if (cut_) return;
  cut_ = true;
  std::memcpy(bytes_ + length_, "...", 3);
  length_ += 3;
}

namespace {

bool IsRefusedKind(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0;
}

using CreateFileNative = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                          ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using QueryDirectoryNative = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                              FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);
using StatusToError = ULONG(NTAPI*)(NTSTATUS);

// The native calls that open a name inside a folder handle and read one entry of a
// folder handle (ntdll is part of every process; nothing is loaded for it).
struct NativeCalls {
  CreateFileNative createFile = nullptr;
  QueryDirectoryNative queryDirectory = nullptr;
  StatusToError toError = nullptr;
};

template <typename Function>
Function NativeFunction(HMODULE ntdll, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(ntdll, name)));
}

const NativeCalls& Native() {
  static const NativeCalls calls = [] {
    NativeCalls found;
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr) return found;
    found.createFile = NativeFunction<CreateFileNative>(ntdll, "NtCreateFile");
    found.queryDirectory = NativeFunction<QueryDirectoryNative>(ntdll, "NtQueryDirectoryFile");
    found.toError = NativeFunction<StatusToError>(ntdll, "RtlNtStatusToDosError");
    return found;
  }();
  return calls;
}

// One component of a path: [text, text + length).
struct Name {
  const wchar_t* text;
  std::size_t length;
};

UNICODE_STRING Counted(const Name& name) {
  UNICODE_STRING counted;
  counted.Length = static_cast<USHORT>(name.length * sizeof(wchar_t));
  counted.MaximumLength = counted.Length;
  counted.Buffer = const_cast<PWSTR>(name.text);
  return counted;
}

// Opens `name` inside the folder handle, never by a path: nothing done to the folders
// above can lead the open elsewhere. A link at the name itself is opened, not followed
// (Wine follows it; see EntryIsOpened). *error receives the system's code on failure.
HANDLE OpenInFolder(HANDLE folder, const Name& name, ACCESS_MASK access, ULONG disposition, ULONG options,
                    DWORD* error) {
  const NativeCalls& calls = Native();
  if (calls.createFile == nullptr || calls.queryDirectory == nullptr || calls.toError == nullptr) {
    *error = ERROR_PROC_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  UNICODE_STRING objectName = Counted(name);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK status{};
  HANDLE opened = INVALID_HANDLE_VALUE;
  // Without FILE_SHARE_DELETE: nobody renames or replaces what is held open.
  const NTSTATUS result =
      calls.createFile(&opened, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, disposition,
                       options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
  if (result < 0) {
    *error = calls.toError(result);
    return INVALID_HANDLE_VALUE;
  }
  return opened;
}

// Whether the entry `name` of the held folder is, at this moment, the very file or
// folder `opened` (opened by that name inside it) and no link. Wine opens a link's
// target without a trace in the handle, so the handle alone cannot tell; the entry read
// afterwards shows a link as one, and anything swapped in since as another file.
bool EntryIsOpened(HANDLE folder, const Name& name, HANDLE opened) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(opened, &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    return false;
  // One entry: its fixed part and a name of at most a path's length.
  alignas(8) unsigned char buffer[sizeof(FILE_ID_BOTH_DIR_INFO) + kPathCapacity * sizeof(wchar_t)];
  UNICODE_STRING mask = Counted(name);
  IO_STATUS_BLOCK status{};
  if (Native().queryDirectory(folder, nullptr, nullptr, nullptr, &status, buffer, sizeof(buffer),
                              FileIdBothDirectoryInformation, TRUE, &mask, TRUE) < 0)
    return false;
  FILE_ID_BOTH_DIR_INFO entry;
  std::memcpy(&entry, buffer, sizeof(entry));
  const ULONGLONG index = static_cast<ULONGLONG>(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
  return (entry.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
         static_cast<ULONGLONG>(entry.FileId.QuadPart) == index;
}

}  // namespace

RunLog::OpenResult RunLog::Open(const char* path, unsigned long* error) {
  file_.Reset();
  *error = ERROR_SUCCESS;
  wchar_t widePath[kPathCapacity];
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, widePath, kPathCapacity) == 0) {
    *error = GetLastError();
    return OpenResult::Failed;
  }
  wchar_t* lastSeparator = std::wcsrchr(widePath, L'\\');
  if (lastSeparator == nullptr || lastSeparator[1] == L'\0') {
    *error = ERROR_INVALID_NAME;
    return OpenResult::Failed;
  }
  // A folder, a device or a link at the path itself is refused whatever the folder.
  if (IsRefusedKind(GetFileAttributesW(widePath))) {
    *error = ERROR_REPARSE_ATTRIBUTE_CONFLICT;
    return OpenResult::Refused;
  }
  // The folder, held from its root down, each folder checked to be no link: held, a
  // folder cannot be renamed or replaced, and what is opened inside it lands in it.
  // ("C:\" keeps its separator.)
  char folderPath[kPathCapacity];
  CopyPath(folderPath, path);
  char* folderEnd = std::strrchr(folderPath, '\\');
  folderEnd[folderEnd > folderPath && folderEnd[-1] == ':' ? 1 : 0] = '\0';
  FolderWalk walk;
  switch (walk.Reach(folderPath, false, 0)) {
    case WayResult::Held:
      break;
    case WayResult::Link:
      *error = ERROR_REPARSE_ATTRIBUTE_CONFLICT;
      return OpenResult::Refused;
    case WayResult::Missing:
      *error = ERROR_PATH_NOT_FOUND;  // a folder is what is missing
      return OpenResult::Failed;
    case WayResult::NotAFolder:
      *error = ERROR_DIRECTORY;
      return OpenResult::Failed;
    case WayResult::CreateFailed:
      *error = PathSkipRootA(folderPath) == nullptr ? ERROR_BAD_PATHNAME : GetLastError();
      return OpenResult::Failed;
  }
  const HANDLE folder = walk.End();
  DWORD openError = ERROR_SUCCESS;
  // A new file is made with FILE_CREATE, which also fails on a link to a missing file
  // rather than create the file it names; an existing one is opened as it is.
  const Name name{lastSeparator + 1, std::wcslen(lastSeparator + 1)};
  const ACCESS_MASK access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES;
  UniqueHandle file(OpenInFolder(folder, name, access, FILE_CREATE, FILE_NON_DIRECTORY_FILE, &openError));
  if (!file && (openError == ERROR_ALREADY_EXISTS || openError == ERROR_FILE_EXISTS))
    file = UniqueHandle(OpenInFolder(folder, name, access, FILE_OPEN, FILE_NON_DIRECTORY_FILE, &openError));
  if (!file) {
    *error = openError;
    return OpenResult::Failed;
  }
  // Append only: every write lands at the end of the file, whoever else writes to it.
  BY_HANDLE_FILE_INFORMATION information{};
  if (GetFileType(file.Get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.Get(), &information) ||
      IsRefusedKind(information.dwFileAttributes) || information.nNumberOfLinks > 1 ||
      !EntryIsOpened(folder, name, file.Get())) {
    *error = ERROR_REPARSE_ATTRIBUTE_CONFLICT;
    return OpenResult::Refused;
  }
  file_ = std::move(file);
  return OpenResult::Opened;
}

void RunLog::Write(const LogLine& line) {
  if (!IsOpen()) return;
  SYSTEMTIME now{};
  GetLocalTime(&now);
  // The time stamp, then the line (which keeps room for its line end).
  char text[32 + LogLine::kCapacity];
  int length = std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u.%03u  ", now.wYear, now.wMonth,
                             now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  if (length < 0) return;
  std::size_t total = static_cast<std::size_t>(length);
  std::memcpy(text + total, line.Data(), line.Length());
  total += line.Length();
  std::memcpy(text + total, "\r\n", 2);
  total += 2;
  DWORD written = 0;
  // A log that cannot be written does not stop the installation.
  WriteFile(file_.Get(), text, static_cast<DWORD>(total), &written, nullptr);
}

void RunLog::RunStarted(const RunRequest& request) {
  if (!IsOpen()) return;
  const char* mode = request.mode == RunMode::RunOnly     ? "run without installing"
                     : request.mode == RunMode::Reinstall ? "reinstall"
                                                          : "install";
  LogLine line;
  line.Text(mode).Text(": install folder ").Path(request.installDir).Text(", work folder ").Path(request.workDir);
  if (request.TiesIntoWindows()) {
    line.Text(", desktop shortcut ")
        .Text(request.makeDesktopShortcut ? "yes" : "no")
        .Text(", Start menu shortcut ")
        .Text(request.makeStartMenuShortcut ? "yes" : "no");
  }
  Write(line);
}

void RunLog::WriteStep(const char* step, const char* path) {
  if (!IsOpen()) return;
  LogLine line;
  line.Text(step).Text(": ").Path(path);
  Write(line);
}

void RunLog::Begin(int totalFiles) {
  if (!IsOpen()) return;
  LogLine line;
  line.Text("payload: ").Number(static_cast<unsigned long long>(totalFiles > 0 ? totalFiles : 0)).Text(" files");
  Write(line);
}

void RunLog::Finished(bool succeeded) {
  if (!IsOpen()) return;
  LogLine line;
  line.Text(succeeded ? "run finished: succeeded" : "run finished: failed");
  Write(line);
}

void RunLog::FolderCreated(const char* path) { WriteStep("folder created", path); }
void RunLog::DeletedAtRestart(const char* path) { WriteStep("deleted at the next restart", path); }
void RunLog::TakenBack(const char* step, const char* path) { WriteStep(step, path); }

void RunLog::ArchiveUnpacked(const char* folder, int files, unsigned long long bytes, unsigned long milliseconds) {
  if (!IsOpen()) return;
  char seconds[32];
  std::snprintf(seconds, sizeof(seconds), "%lu.%03lu", milliseconds / 1000, milliseconds % 1000);
  LogLine line;
  line.Text("archive unpacked: ")
      .Path(folder)
      .Text(": ")
      .Number(static_cast<unsigned long long>(files > 0 ? files : 0))
      .Text(" files, ")
      .Number(bytes)
      .Text(" bytes, ")
      .Text(seconds)
      .Text(" s");
  Write(line);
}

void RunLog::WorkpathWritten(const char* path) { WriteStep("workpath written", path); }

void RunLog::ShortcutCreated(const char* path) { WriteStep("shortcut created", path); }

void RunLog::UninstallEntryWritten(const char* key) { WriteStep("uninstall entry written", key); }

void RunLog::FileTypeAssociated(const char* extension) { WriteStep("file type associated", extension); }

void RunLog::StepFailed(FailureCause cause, const char* path, unsigned long systemError) {
  if (!IsOpen()) return;
  LogLine line;
  line.Text("failed: ").Text(FailureText(cause)).Text("; cause: ").Text(FailureCauseName(cause));
  if (path != nullptr) line.Text("; path: ").Path(path);
  line.Text("; system error ").ErrorCode(systemError);
  Write(line);
}

void InstallerVersion(char* out, std::size_t capacity) {
  CopyText(out, capacity, texts::kVersion);
  // VS_VERSIONINFO: three 16-bit fields, the key L"VS_VERSION_INFO" with its terminator,
  // padding to 32 bits, then VS_FIXEDFILEINFO.
  constexpr std::size_t kFixedInfoOffset = 40;
  const HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(VS_VERSION_INFO), RT_VERSION);
  if (found == nullptr) return;
  const HGLOBAL loaded = LoadResource(nullptr, found);
  const auto* bytes = loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
  if (bytes == nullptr || SizeofResource(nullptr, found) < kFixedInfoOffset + sizeof(VS_FIXEDFILEINFO)) return;
  VS_FIXEDFILEINFO info;
  std::memcpy(&info, bytes + kFixedInfoOffset, sizeof(info));
  if (info.dwSignature != 0xFEEF04BD) return;
  char version[48];
  std::snprintf(version, sizeof(version), "%lu.%lu.%lu.%lu", static_cast<unsigned long>(HIWORD(info.dwFileVersionMS)),
                static_cast<unsigned long>(LOWORD(info.dwFileVersionMS)),
                static_cast<unsigned long>(HIWORD(info.dwFileVersionLS)),
                static_cast<unsigned long>(LOWORD(info.dwFileVersionLS)));
  CopyText(out, capacity, version);
}
