#include "uninstaller/uninstaller.h"

#include <shellapi.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "engine/installation_record.h"
#include "engine/installation_removal.h"
#include "engine/keep_folder.h"
#include "engine/run_lock.h"
#include "shared/command_text.h"
#include "shared/platform.h"
#include "shared/raii.h"
#include "shared/run_log.h"
#include "shared/system_libraries.h"
#include "shared/texts.h"
#include "uninstaller/uninstall_dialog.h"

const wchar_t kFromCopySwitch[] = L"/FROMCOPY";

namespace {

constexpr wchar_t kCopyName[] = L"\\Uninstall.exe";
// The copy's command line: its quoted path, the switch, and the original arguments.
constexpr std::size_t kCommandCapacity = 32768;  // the longest command line

RunLog g_log;

bool Matches(const wchar_t* argument, const wchar_t* name) { return _wcsicmp(argument, name) == 0; }

bool StartsWith(const wchar_t* argument, const wchar_t* prefix) {
  return _wcsnicmp(argument, prefix, std::wcslen(prefix)) == 0;
}

const char* MeaningOf(UninstallEnd end) {
  switch (end) {
    case UninstallEnd::Removed: return "removed";
    case UninstallEnd::Failed: return "removal failed";
    case UninstallEnd::InvalidCommandLine: return "invalid command line";
    case UninstallEnd::RestartPending: return "removed, restart pending";
    case UninstallEnd::AnotherRunActive: return "another installation in progress";
    case UninstallEnd::Cancelled: return "cancelled";
  }
  return "";
}

UninstallEnd Finish(UninstallEnd end) {
  if (g_log.IsOpen()) {
    LogLine line;
    line.Text("exit status ")
        .Number(static_cast<unsigned long long>(UninstallExitStatus(end)))
        .Text(" (")
        .Text(MeaningOf(end))
        .Text(")");
    g_log.Write(line);
  }
  return end;
}

void Box(const UninstallOptions& options, const char* text) {
  if (!options.unattended) MessageBoxA(nullptr, text, texts::kUninstallTitle, MB_OK);
}

// Waits for the copy's end taking this thread's messages meanwhile: a caller that
// started this program with WinExec (the installer's mode page) waits until it is
// idle for input, and this process shows no window of its own. Unattended, nothing
// here has loaded user32 (its functions are bound on first call), so the process has
// no message queue that anyone could wait on, and making one would load the window
// libraries for nothing.
void WaitForEnd(HANDLE process, bool unattended) {
  if (unattended && GetModuleHandleW(L"user32.dll") == nullptr) {
    WaitForSingleObject(process, INFINITE);
    return;
  }
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    if (MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0 + 1) return;
  }
}

// Runs a copy of this program from a new administrators-only folder at the root of
// the system volume and waits for it. False when no copy could be started (this
// process then does the work itself).
bool RunFromCopy(const wchar_t* arguments, bool unattended, UninstallEnd* end) {
  char system[kPathCapacity];
  if (GetSystemDirectoryA(system, sizeof(system)) == 0) return false;
  KeepFolder folder{};
  CopyPath(folder.root, system);
  char root[kPathCapacity];
  DWORD serial = 0;
  if (!VolumeRootOf(system, root) || !GetVolumeInformationA(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0) ||
      !NameKeepFolder(folder) || !MakeKeepFolder(folder, serial))
    return false;
  wchar_t self[kPathCapacity];
  wchar_t copy[kPathCapacity];
  const DWORD length = GetModuleFileNameW(nullptr, self, kPathCapacity);
  const int folderLength = MultiByteToWideChar(CP_ACP, 0, folder.path, -1, copy, static_cast<int>(kPathCapacity));
  bool copied = length > 0 && length < kPathCapacity && folderLength > 0 &&
                static_cast<std::size_t>(folderLength) + std::wcslen(kCopyName) < kPathCapacity;
  if (copied) {
    std::wcscat(copy, kCopyName);
    copied = CopyFileW(self, copy, TRUE) != FALSE;
  }
  bool ran = false;
  if (copied) {
    const std::unique_ptr<wchar_t[]> command(new (std::nothrow) wchar_t[kCommandCapacity]);
    if (command) {
      const int written = _snwprintf(command.get(), kCommandCapacity, L"\"%ls\" %ls %ls", copy, kFromCopySwitch,
                                     arguments);
      STARTUPINFOW startup{};
      startup.cb = sizeof(startup);
      PROCESS_INFORMATION process{};
      if (written > 0 && static_cast<std::size_t>(written) < kCommandCapacity &&
          CreateProcessW(copy, command.get(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        const UniqueHandle processHandle(process.hProcess);
        const UniqueHandle threadHandle(process.hThread);
        WaitForEnd(processHandle.Get(), unattended);
        DWORD status = 1;
        GetExitCodeProcess(processHandle.Get(), &status);
        switch (status) {
          case 0: *end = UninstallEnd::Removed; break;
          case 2: *end = UninstallEnd::InvalidCommandLine; break;
          case 3010: *end = UninstallEnd::RestartPending; break;
          case 1618: *end = UninstallEnd::AnotherRunActive; break;
          case 1602: *end = UninstallEnd::Cancelled; break;
          default: *end = UninstallEnd::Failed; break;
        }
        ran = true;
      }
    }
  }
  // The copy has ended: it goes now, or at the next restart when something holds it.
  folder.held.Reset();
  if (copied && !DeleteFileW(copy)) MoveFileExW(copy, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  if (!RemoveDirectoryA(folder.path)) MoveFileExA(folder.path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return ran;
}

// The arguments after the program's name, as the command line spells them.
const wchar_t* ArgumentsOf(const wchar_t* commandLine) {
  bool quoted = false;
  for (; *commandLine; ++commandLine) {
    if (*commandLine == L'"') quoted = !quoted;
    if (!quoted && (*commandLine == L' ' || *commandLine == L'\t')) break;
  }
  while (*commandLine == L' ' || *commandLine == L'\t') ++commandLine;
  return commandLine;
}

constexpr char kCopyFolderValue[] = "UninstallerCopy";

// The copy's folder is named in the record while the copy works: when both processes
// are killed, nobody else deletes it, so the next copy does. Only a real keep folder
// of trusted ownership goes (RemoveKeepFolder), with the one file a copy holds.
void TakeOverCopyFolder(bool is64BitWindows) {
  UniqueKey record;
  if (OpenInstallationRecord(is64BitWindows, false, record) != ERROR_SUCCESS) return;
  KeepFolder earlier{};
  DWORD size = sizeof(earlier.path) - 1;
  if (RegQueryValueExA(record.Get(), kCopyFolderValue, nullptr, nullptr, reinterpret_cast<BYTE*>(earlier.path),
                       &size) == ERROR_SUCCESS &&
      VolumeRootOf(earlier.path, earlier.root)) {
    char file[kPathCapacity];
    if (JoinPathWhole(file, sizeof(file), earlier.path, texts::kUninstallExeTail)) DeleteFileA(file);
    RemoveKeepFolder(earlier, false);
  }
  char own[kPathCapacity];
  const DWORD length = GetModuleFileNameA(nullptr, own, sizeof(own));
  char* tail = length > 0 && length < sizeof(own) ? std::strrchr(own, '\\') : nullptr;
  if (tail == nullptr) return;
  *tail = '\0';
  RegSetValueExA(record.Get(), kCopyFolderValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(own),
                 static_cast<DWORD>(std::strlen(own) + 1));
}

// A copy that ends by itself leaves its folder to the original, which deletes it.
void ForgetCopyFolder(bool is64BitWindows) {
  UniqueKey record;
  if (OpenInstallationRecord(is64BitWindows, false, record) == ERROR_SUCCESS)
    RegDeleteValueA(record.Get(), kCopyFolderValue);
}

UninstallEnd ResultOf(RemovalEnd result) {
  switch (result) {
    case RemovalEnd::Removed: return UninstallEnd::Removed;
    case RemovalEnd::RemovedRestartPending: return UninstallEnd::RestartPending;
    case RemovalEnd::Cancelled: return UninstallEnd::Cancelled;
    case RemovalEnd::Failed: break;
  }
  return UninstallEnd::Failed;
}

UninstallEnd Work(HINSTANCE instance, const UninstallOptions& options, const wchar_t* commandLine) {
  if (options.logPath[0] != '\0') {
    char path[kPathCapacity] = {};
    unsigned long error = 0;
    const DWORD length = GetFullPathNameA(options.logPath, sizeof(path), path, nullptr);
    if (length == 0 || length >= sizeof(path) || g_log.Open(path, &error) != RunLog::OpenResult::Opened) {
      Box(options, texts::kLogOpenFailed);
      return UninstallEnd::InvalidCommandLine;
    }
  }
  if (g_log.IsOpen()) {
    char version[32];
    InstallerVersion(version, sizeof(version));
    LogLine line;
    line.Text("start: Velmorix uninstall ")
        .Text(version)
        .Text(options.unattended ? ", unattended" : ", dialog")
        .Text(", command line: ")
        .Wide(commandLine);
    g_log.Write(line);
  }
  if (!TakeRunLock()) {
    Box(options, texts::kAnotherRunActive);
    return Finish(UninstallEnd::AnotherRunActive);
  }
  const bool is64 = Detect64BitWindows();
  // A removal killed midway is finished or undone before anything else.
  RecoverInterruptedRemoval(is64);
  if (options.fromCopy) TakeOverCopyFolder(is64);
  const std::unique_ptr<InstallationRecord> record(new (std::nothrow) InstallationRecord);
  if (!record || !LoadInstallationRecord(is64, *record)) {
    g_log.StepFailed(FailureCause::NothingToRemove, "HKLM\\Software\\VelmorixInstallation", ERROR_FILE_NOT_FOUND);
    Box(options, texts::kUninstallNothingFound);
    return Finish(UninstallEnd::Failed);
  }
  // The uninstaller in the install folder that started this copy.
  char launcher[kPathCapacity] = {};
  JoinPathWhole(launcher, sizeof(launcher), record->installDir, texts::kUninstallExeTail);
  if (options.unattended) {
    RemovalOptions removal;
    removal.is64BitWindows = is64;
    removal.removeData = options.removeData;
    removal.progress = &g_log;
    removal.launcher = options.fromCopy ? launcher : nullptr;
    const UninstallEnd end = ResultOf(RemoveInstallation(*record, removal));
    ForgetCopyFolder(is64);
    return Finish(end);
  }
  InitProgressBarControls();
  bool started = false;
  const RemovalEnd result =
      ShowUninstallDialog(instance, *record, is64, options.fromCopy ? launcher : nullptr, g_log, &started);
  ForgetCopyFolder(is64);
  return Finish(started ? ResultOf(result) : UninstallEnd::Cancelled);
}

}  // namespace

int UninstallExitStatus(UninstallEnd end) {
  switch (end) {
    case UninstallEnd::Removed: return 0;
    case UninstallEnd::Failed: return 1;
    case UninstallEnd::InvalidCommandLine: return 2;
    case UninstallEnd::RestartPending: return 3010;   // ERROR_SUCCESS_REBOOT_REQUIRED
    case UninstallEnd::AnotherRunActive: return 1618; // ERROR_INSTALL_ALREADY_RUNNING
    case UninstallEnd::Cancelled: return 1602;        // ERROR_INSTALL_USEREXIT
  }
  return 1;
}

bool ParseUninstallArguments(const wchar_t* const* arguments, int count, UninstallOptions* options) {
  bool logSeen = false;
  for (int i = 0; i < count; ++i) {
    const wchar_t* argument = arguments[i];
    bool* flag = Matches(argument, L"/S")            ? &options->unattended
                 : Matches(argument, L"/REMOVEDATA") ? &options->removeData
                 : Matches(argument, kFromCopySwitch) ? &options->fromCopy
                                                      : nullptr;
    if (flag != nullptr) {
      if (*flag) return false;
      *flag = true;
      continue;
    }
    if (!StartsWith(argument, L"/LOG=") || logSeen) return false;
    logSeen = true;
    BOOL substituted = FALSE;
    const wchar_t* value = argument + 5;
    if (*value == L'\0' || WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, value, -1, options->logPath,
                                               static_cast<int>(kPathCapacity), nullptr, &substituted) <= 0 ||
        substituted)
      return false;
  }
  return true;
}

bool SplitPlainArguments(const wchar_t* commandLine, PlainArguments* split) {
  split->count = 0;
  // The program's name: quoted, or up to the first blank; then a blank or the end.
  const wchar_t* rest = commandLine;
  if (*rest == L'"') {
    rest = std::wcschr(rest + 1, L'"');
    if (rest == nullptr) return false;
    ++rest;
  } else {
    for (; *rest != L'\0' && *rest != L' ' && *rest != L'\t'; ++rest)
      if (*rest == L'"') return false;
    if (rest == commandLine) return false;
  }
  if (*rest != L'\0' && *rest != L' ' && *rest != L'\t') return false;
  // After it no quotation mark: each argument is then a run of other characters than
  // spaces and tabs, backslashes included.
  if (std::wcschr(rest, L'"') != nullptr) return false;
  std::size_t used = 0;
  for (;;) {
    while (*rest == L' ' || *rest == L'\t') ++rest;
    if (*rest == L'\0') return true;
    std::size_t length = 0;
    while (rest[length] != L'\0' && rest[length] != L' ' && rest[length] != L'\t') ++length;
    if (split->count == PlainArguments::kMaxCount || used + length + 1 > PlainArguments::kCapacity) return false;
    std::wmemcpy(split->text + used, rest, length);
    split->text[used + length] = L'\0';
    split->list[split->count++] = split->text + used;
    used += length + 1;
    rest += length;
  }
}

UninstallEnd RunUninstaller(HINSTANCE instance) {
  const wchar_t* commandLine = GetCommandLineW();
  // A plain line is split here: CommandLineToArgvW lives in shell32, which loads the
  // window libraries, and the process that only starts the copy needs none of them.
  const std::unique_ptr<PlainArguments> plain(new (std::nothrow) PlainArguments);
  int count = 0;
  LPWSTR* argv = nullptr;
  const wchar_t* const* arguments = nullptr;
  if (plain && SplitPlainArguments(commandLine, plain.get())) {
    arguments = plain->list;
    count = plain->count;
  } else {
    argv = CommandLineToArgvW(commandLine, &count);
    if (argv != nullptr) arguments = argv + 1;
    count = count > 1 ? count - 1 : 0;
  }
  const UniqueLocal argvOwner(argv);
  UninstallOptions options;
  if (arguments == nullptr || !ParseUninstallArguments(arguments, count, &options)) {
    // /S anywhere forbids a window, even on a line that is wrong otherwise.
    for (int i = 0; arguments != nullptr && i < count; ++i)
      options.unattended = options.unattended || Matches(arguments[i], L"/S");
    Box(options, texts::kUninstallUsage);
    return UninstallEnd::InvalidCommandLine;
  }
  UninstallEnd end = UninstallEnd::Failed;
  if (!options.fromCopy && RunFromCopy(ArgumentsOf(commandLine), options.unattended, &end)) return end;
  return Work(instance, options, commandLine);
}
