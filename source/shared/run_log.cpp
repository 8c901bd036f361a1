#include "shared/run_log.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <utility>

#include "shared/path_buffer.h"
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

// Whether a folder on the way to `path` (below its root) is a link: a log written
// there lands wherever the link points.
bool HasLinkedFolder(const char* path) {
  char prefix[kPathCapacity];
  if (CopyPath(prefix, path) != PathResult::Ok) return true;
  // The root ("C:\", "\\server\share\") is the start of every path and no link.
  std::size_t i = 0;
  if (prefix[0] == '\\' && prefix[1] == '\\') {
    int separators = 0;
    for (i = 2; prefix[i] != '\0' && separators < 2; ++i) {
      if (prefix[i] == '\\') ++separators;
    }
  } else {
    i = BoundedLength(prefix, 3);
  }
  for (; i < kPathCapacity && prefix[i] != '\0'; ++i) {
    if (prefix[i] != '\\') continue;
    prefix[i] = '\0';
    const DWORD attributes = GetFileAttributesA(prefix);
    prefix[i] = '\\';
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
  }
  return false;
}

// Opens without following a link at the path itself (Windows opens the link, which is
// then refused). A new file is made with CREATE_NEW, which also fails on a link to a
// missing file rather than create the file it names; an existing one is opened as it is.
HANDLE OpenForAppending(const char* path) {
  const DWORD access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE file = CreateFileA(path, access, share, nullptr, CREATE_NEW, flags, nullptr);
  if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
  return CreateFileA(path, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
}

}  // namespace

RunLog::OpenResult RunLog::Open(const char* path, unsigned long* error) {
  file_.Reset();
  *error = ERROR_SUCCESS;
  // Wine shows a link to a folder only in the attributes of its path, not in those of a
  // handle opened on it; Windows shows it in both. So both are looked at.
  if (HasLinkedFolder(path) || IsRefusedKind(GetFileAttributesA(path))) {
    *error = ERROR_REPARSE_ATTRIBUTE_CONFLICT;
    return OpenResult::Refused;
  }
  // Append only: every write lands at the end of the file, whoever else writes to it.
  UniqueHandle file(OpenForAppending(path));
  if (!file) {
    *error = GetLastError();
    return OpenResult::Failed;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (GetFileType(file.Get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.Get(), &information) ||
      IsRefusedKind(information.dwFileAttributes) || information.nNumberOfLinks > 1) {
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

void RunLog::RunStarted(const InstallerState& state) {
  if (!IsOpen()) return;
  const char* mode = state.modeRun ? "run without installing" : state.modeRepair ? "reinstall" : "install";
  LogLine line;
  line.Text(mode).Text(": install folder ").Path(state.installDir).Text(", work folder ").Path(state.workDir);
  if (state.modeInstall) {
    line.Text(", desktop shortcut ")
        .Text(state.makeDesktopShortcut ? "yes" : "no")
        .Text(", Start menu shortcut ")
        .Text(state.makeQuickLaunchShortcut ? "yes" : "no");
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

void RunLog::StepFailed(const char* text, const char* path, unsigned long systemError) {
  if (!IsOpen()) return;
  LogLine line;
  line.Text("failed: ").Text(text);
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
