#include "e2e/driver/installer_driver.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <utility>

#include "resource_ids.h"
#include "shared/texts.h"
#include "support/registry.h"
#include "support/test_files.h"

namespace driver {
namespace {

struct ScreenDcTraits {
  static HDC Empty() { return nullptr; }
  static bool IsEmpty(HDC dc) { return dc == nullptr; }
  static void Free(HDC dc) { ReleaseDC(nullptr, dc); }
};
using ScreenDc = UniqueResource<HDC, ScreenDcTraits>;

struct MemoryDcTraits {
  static HDC Empty() { return nullptr; }
  static bool IsEmpty(HDC dc) { return dc == nullptr; }
  static void Free(HDC dc) { DeleteDC(dc); }
};
using MemoryDc = UniqueResource<HDC, MemoryDcTraits>;

struct GdiObjectTraits {
  static HGDIOBJ Empty() { return nullptr; }
  static bool IsEmpty(HGDIOBJ object) { return object == nullptr; }
  static void Free(HGDIOBJ object) { DeleteObject(object); }
};
using GdiObject = UniqueResource<HGDIOBJ, GdiObjectTraits>;

const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmorix";
constexpr UINT kMessageTimeoutMs = 5000;

DWORD WindowProcess(HWND window) {
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  return processId;
}

bool HasClass(HWND window, const char* className) {
  char name[64] = {};
  return GetClassNameA(window, name, sizeof(name)) > 0 && std::strcmp(name, className) == 0;
}

// Walks the top-level windows; `match` returns true for the one wanted.
template <typename Match>
struct TopLevelSearch {
  Match* match;
  HWND found;
  static BOOL CALLBACK Visit(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<TopLevelSearch*>(parameter);
    if (!(*search->match)(window)) return TRUE;
    search->found = window;
    return FALSE;
  }
};

template <typename Match>
HWND FindTopLevel(Match match) {
  TopLevelSearch<Match> search{&match, nullptr};
  EnumWindows(&TopLevelSearch<Match>::Visit, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool IsPageOfAnyKind(HWND window) {
  return Control(window, PageControlId(Page::Mode)) || Control(window, PageControlId(Page::Settings)) ||
         Control(window, PageControlId(Page::Progress));
}

}  // namespace

int PageControlId(Page page) {
  switch (page) {
    case Page::Mode: return IDC_MODE_NEXT;
    case Page::Settings: return IDC_SETTINGS_NEXT;
    case Page::Progress: return IDC_PROGRESS_BUTTON;
  }
  return 0;
}

const char* PageName(Page page) {
  switch (page) {
    case Page::Mode: return "mode";
    case Page::Settings: return "settings";
    case Page::Progress: return "progress";
  }
  return "page";
}

std::string EnvironmentValue(const char* name) {
  char value[32768];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
  return length > 0 && length < sizeof(value) ? std::string(value, length) : std::string();
}

std::string InstallerPath() { return EnvironmentValue("VELMORIX_INSTALLER"); }

// The installer lies at <build>\dist\VelmorixSetup.exe: a test environment that carries
// only VELMORIX_INSTALLER still finds the build folder.
std::string BuildDir() {
  std::string build = EnvironmentValue("VELMORIX_BUILD_DIR");
  if (!build.empty()) return build;
  build = InstallerPath();
  for (int level = 0; level < 2; ++level) {
    const std::size_t slash = build.find_last_of('\\');
    if (slash == std::string::npos) return std::string();
    build.resize(slash);
  }
  return build;
}

std::string PayloadDir() {
  const std::string payload = EnvironmentValue("VELMORIX_PAYLOAD_DIR");
  return payload.empty() ? BuildDir() + "\\payload" : payload;
}

// ---- the installer process ----

InstallerProcess::InstallerProcess(std::string screenshotPrefix) : prefix_(std::move(screenshotPrefix)) {}

InstallerProcess::~InstallerProcess() {
  if (Running()) {
    TerminateProcess(process_.Get(), 1);
    WaitForSingleObject(process_.Get(), kTimeoutMs);
  }
}

bool InstallerProcess::Kill() {
  if (!Running()) return false;
  return TerminateProcess(process_.Get(), 9) && WaitForSingleObject(process_.Get(), kTimeoutMs) == WAIT_OBJECT_0;
}

bool InstallerProcess::Start(const std::string& executable, const std::string& arguments) {
  std::string commandLine = "\"" + executable + "\"";
  if (!arguments.empty()) commandLine += " " + arguments;
  return StartCommandLine(commandLine, executable.c_str());
}

bool InstallerProcess::StartCommandLine(std::string commandLine, const char* executable) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(executable, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return false;
  }
  process_.Reset(info.hProcess);
  UniqueHandle thread(info.hThread);
  processId_ = info.dwProcessId;
  threadId_ = info.dwThreadId;
  return true;
}

bool InstallerProcess::Running() const {
  return process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

HWND InstallerProcess::WaitForPage(Page page, DWORD timeoutMs) {
  const int id = PageControlId(page);
  const std::string caption = texts::kWindowTitle;
  HWND found = nullptr;
  WaitFor(
      [&] {
        found = FindTopLevel([&](HWND window) {
          return WindowProcess(window) == processId_ && IsWindowVisible(window) && HasClass(window, "#32770") &&
                 Control(window, id) != nullptr && WindowText(window) == caption;
        });
        return found != nullptr;
      },
      timeoutMs, pollMs_);
  if (found) Screenshot(found, PageName(page));
  return found;
}

HWND InstallerProcess::FindMessageBox() const {
  const DWORD processId = processId_;
  return FindTopLevel([&](HWND window) {
    return WindowProcess(window) == processId && IsWindowVisible(window) && HasClass(window, "#32770") &&
           Control(window, 0xFFFF) != nullptr && !IsPageOfAnyKind(window);
  });
}

HWND InstallerProcess::FindVisibleWindow() const {
  const DWORD processId = processId_;
  return FindTopLevel([&](HWND window) { return WindowProcess(window) == processId && IsWindowVisible(window); });
}

HWND InstallerProcess::WaitForMessageBox(DWORD timeoutMs) {
  HWND box = nullptr;
  WaitFor([&] { return (box = FindMessageBox()) != nullptr; }, timeoutMs, pollMs_);
  if (box) Screenshot(box, "box");
  return box;
}

bool InstallerProcess::WaitForExit(DWORD timeoutMs, DWORD* exitCode) {
  if (!process_ || WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  GetExitCodeProcess(process_.Get(), &code);
  if (exitCode) *exitCode = code;
  return true;
}

HWND InstallerProcess::FocusedWindow() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  return GetGUIThreadInfo(threadId_, &info) ? info.hwndFocus : nullptr;
}

bool InstallerProcess::PressKey(WORD virtualKey) {
  HWND focus = FocusedWindow();
  if (!focus) return false;
  const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC)) << 16;
  const LPARAM up = static_cast<LPARAM>(0xC0000000u);
  return PostMessageA(focus, WM_KEYDOWN, virtualKey, scan | 1) &&
         PostMessageA(focus, WM_KEYUP, virtualKey, scan | 1 | up);
}

void InstallerProcess::Screenshot(HWND window, const char* name) {
  const std::string folder = ScreenshotFolder();
  if (folder.empty()) return;
  char file[64];
  std::snprintf(file, sizeof(file), "-%02d-%s.bmp", ++shots_, name);
  SaveWindowBitmap(window, folder + "\\" + prefix_ + file);
}

// ---- controls ----

HWND Control(HWND page, int id) { return GetDlgItem(page, id); }

std::string WindowText(HWND window) {
  if (!window) return std::string();
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &length)) {
    return std::string();
  }
  std::string text(length + 1, '\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG,
                           kMessageTimeoutMs, &copied)) {
    return std::string();
  }
  text.resize(copied < length ? copied : length);
  return text;
}

std::string ControlText(HWND page, int id) { return WindowText(Control(page, id)); }

bool SetControlText(HWND page, int id, const std::string& text) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(Control(page, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                             SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result) != 0 &&
         result == TRUE;
}

bool IsControlEnabled(HWND page, int id) { return IsWindowEnabled(Control(page, id)) != FALSE; }

bool IsControlChecked(HWND page, int id) {
  DWORD_PTR state = 0;
  return SendMessageTimeoutA(Control(page, id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &state) &&
         state == BST_CHECKED;
}

bool Click(HWND page, int id) {
  HWND control = Control(page, id);
  return control && PostMessageA(control, BM_CLICK, 0, 0);
}

RECT WindowRect(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return rect;
}

bool MoveWindowTo(HWND window, int left, int top) {
  return SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
}

bool WaitForControlText(HWND page, int id, const std::string& text, DWORD timeoutMs) {
  return WaitFor([&] { return ControlText(page, id) == text; }, timeoutMs);
}

bool WaitUntilHidden(HWND window, DWORD timeoutMs) {
  return WaitFor([&] { return !IsWindowVisible(window); }, timeoutMs);
}

std::string MessageBoxText(HWND box) { return ControlText(box, 0xFFFF); }

bool PressMessageBoxButton(HWND box, int buttonId) { return Click(box, buttonId); }

HWND FindForeignWindow(const char* className, DWORD notProcess) {
  return FindTopLevel([&](HWND window) {
    return WindowProcess(window) != notProcess && HasClass(window, className);
  });
}

HWND WaitForForeignWindow(const char* className, DWORD notProcess, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitFor([&] { return (found = FindForeignWindow(className, notProcess)) != nullptr; }, timeoutMs);
  return found;
}

HWND WaitForDialogWithControl(int controlId, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitFor(
      [&] {
        found = FindTopLevel([&](HWND window) {
          return IsWindowVisible(window) && HasClass(window, "#32770") && Control(window, controlId) != nullptr;
        });
        return found != nullptr;
      },
      timeoutMs);
  return found;
}

namespace {

// The ids of the processes running from a file named `exeName`; -1 alone when the
// processes cannot be listed.
std::vector<DWORD> ProcessesNamed(const char* exeName) {
  std::vector<DWORD> found;
  const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  if (!snapshot) return {static_cast<DWORD>(-1)};
  for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry))
    if (_stricmp(entry.szExeFile, exeName) == 0) found.push_back(entry.th32ProcessID);
  return found;
}

}  // namespace

bool WaitForNoProcessNamed(const char* exeName, DWORD timeoutMs) {
  return WaitFor([&] { return ProcessesNamed(exeName).empty(); }, timeoutMs);
}

int KillProcessesNamed(const char* exeName) {
  int killed = 0;
  for (DWORD id : ProcessesNamed(exeName)) {
    const UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    if (process && TerminateProcess(process.Get(), 9)) ++killed;
    if (process) WaitForSingleObject(process.Get(), kTimeoutMs);
  }
  return killed;
}

bool CloseForeignWindow(HWND window, DWORD timeoutMs) {
  UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, WindowProcess(window)));
  PostMessageA(window, WM_CLOSE, 0, 0);
  if (!process) return false;
  if (WaitForSingleObject(process.Get(), timeoutMs) == WAIT_OBJECT_0) return true;
  TerminateProcess(process.Get(), 1);
  WaitForSingleObject(process.Get(), timeoutMs);
  return false;
}

// ---- screenshots ----

std::string ScreenshotFolder() {
  const std::string build = BuildDir();
  if (build.empty()) return std::string();
  const std::string folder = build + "\\screenshots";
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

bool CaptureWindow(HWND window, Capture* capture) {
  const RECT rect = WindowRect(window);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return false;
  ScreenDc screen(GetDC(nullptr));
  if (!screen) return false;
  MemoryDc memory(CreateCompatibleDC(screen.Get()));
  GdiObject bitmap(CreateCompatibleBitmap(screen.Get(), width, height));
  if (!memory || !bitmap) return false;
  HGDIOBJ previous = SelectObject(memory.Get(), bitmap.Get());
  const BOOL copied = BitBlt(memory.Get(), 0, 0, width, height, screen.Get(), rect.left, rect.top, SRCCOPY);
  SelectObject(memory.Get(), previous);
  if (!copied) return false;

  BITMAPINFOHEADER header{};
  header.biSize = sizeof(header);
  header.biWidth = width;
  header.biHeight = height;  // bottom-up, as BMP files store it
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  std::vector<unsigned char> pixels(stride * static_cast<std::size_t>(height));
  if (!GetDIBits(memory.Get(), static_cast<HBITMAP>(bitmap.Get()), 0, static_cast<UINT>(height), pixels.data(),
                 reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS)) {
    return false;
  }
  capture->width = width;
  capture->height = height;
  capture->pixels = std::move(pixels);
  return true;
}

bool SaveWindowBitmap(HWND window, const std::string& path) {
  Capture capture;
  if (!CaptureWindow(window, &capture)) return false;
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(header);
  header.biWidth = capture.width;
  header.biHeight = capture.height;  // bottom-up, as captured
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  const std::vector<unsigned char>& pixels = capture.pixels;
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size());
  std::vector<unsigned char> bytes(file.bfSize);
  std::memcpy(bytes.data(), &file, sizeof(file));
  std::memcpy(bytes.data() + sizeof(file), &header, sizeof(header));
  std::memcpy(bytes.data() + file.bfOffBits, pixels.data(), pixels.size());
  return WriteWholeFile(path, bytes.data(), bytes.size());
}

namespace {

BOOL CALLBACK FindPendingPaint(HWND child, LPARAM parameter) {
  if (!IsWindowVisible(child) || !GetUpdateRect(child, nullptr, FALSE)) return TRUE;
  *reinterpret_cast<bool*>(parameter) = true;
  return FALSE;
}

// True when neither the window nor a visible control of it waits for WM_PAINT.
bool NothingToPaint(HWND window) {
  if (GetUpdateRect(window, nullptr, FALSE)) return false;
  bool pending = false;
  EnumChildWindows(window, &FindPendingPaint, reinterpret_cast<LPARAM>(&pending));
  return !pending;
}

}  // namespace

bool WaitUntilPainted(HWND window, DWORD timeoutMs) {
  // The caption is drawn outside the client area, which GetUpdateRect does not
  // report: the pixels must also come out the same twice, a moment apart.
  constexpr DWORD kSettleMs = 100;
  Capture previous;
  return WaitFor(
      [&] {
        DWORD_PTR ignored = 0;
        // Returns once the window's thread has dispatched what was queued before.
        if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &ignored)) return false;
        if (!NothingToPaint(window)) {
          previous = Capture();
          return false;
        }
        Capture current;
        if (!CaptureWindow(window, &current)) return false;
        const bool still = !previous.pixels.empty() && current.width == previous.width &&
                           current.height == previous.height && current.pixels == previous.pixels;
        previous = std::move(current);
        return still;
      },
      timeoutMs, kSettleMs);
}

// ---- registry ----

bool WriteUninstallLocation(const void* data, DWORD size) {
  UniqueKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_WRITE | KEY_WOW64_64KEY, nullptr, key.Receive(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return RegSetValueExA(key.Get(), "InstallLocation", 0, REG_SZ, static_cast<const BYTE*>(data), size) ==
         ERROR_SUCCESS;
}

bool WriteUninstallLocation(const std::string& location) {
  return WriteUninstallLocation(location.c_str(), static_cast<DWORD>(location.size() + 1));
}

bool ReadUninstallValue(const char* name, std::string* value) {
  const StoredValue stored = ReadStoredValue(HKEY_LOCAL_MACHINE, kUninstallKey, name, KEY_WOW64_64KEY);
  if (!stored.present) return false;
  value->assign(stored.bytes.c_str());  // up to the terminator
  return true;
}

void RemoveUninstallEntry() { RemoveUninstallEntryKey(KEY_WOW64_64KEY); }

void RemoveDefaultInstallation() {
  RemoveUninstallEntry();
  RemoveFileAssociation();
  DeleteTree(CommonFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\Velmorix.lnk");
  DeleteTree(CommonFolder(CSIDL_COMMON_PROGRAMS) + "\\Tarkweller");
  for (const char* variable : {"PROGRAMFILES", "ALLUSERSPROFILE", "TEMP"}) {
    DeleteTree(EnvironmentValue(variable) + "\\Tarkweller");
  }
}

void RemoveRunJournal() {
  for (REGSAM view : {REGSAM{KEY_WOW64_64KEY}, REGSAM{KEY_WOW64_32KEY}})
    DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software", "VelmorixSetup", view);
  // And the keep folders it named, at the root of C: (where every test installs).
  for (const std::string& keep : testsupport::KeepFoldersOnC()) DeleteTree(keep);
}

void RemoveFileAssociation() { RemoveAssociationKeys(KEY_WOW64_64KEY); }

// ---- files ----

bool CreateFolders(const std::string& path) {
  for (std::size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  }
  CreateDirectoryA(path.c_str(), nullptr);
  return FolderExists(path);
}

std::vector<std::string> FilesUnder(const std::string& folder) {
  std::vector<std::string> files;
  WIN32_FIND_DATAA found{};
  UniqueFind search(FindFirstFileA((folder + "\\*").c_str(), &found));
  if (!search) return files;
  do {
    if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0) continue;
    const std::string path = folder + "\\" + found.cFileName;
    // A link to a folder is listed itself, not what lies behind it.
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      for (std::string& inner : FilesUnder(path)) files.push_back(std::move(inner));
    } else {
      files.push_back(path);
    }
  } while (FindNextFileA(search.Get(), &found));
  return files;
}

std::string CommonFolder(int csidl) {
  char path[MAX_PATH] = {};
  return SUCCEEDED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) ? std::string(path)
                                                                                      : std::string();
}

ScopedEnvironment::ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
  char old[32768];
  const DWORD length = GetEnvironmentVariableA(name, old, sizeof(old));
  if (length > 0 && length < sizeof(old)) {
    hadOld_ = true;
    old_.assign(old, length);
  }
  SetEnvironmentVariableA(name, value.c_str());
}

ScopedEnvironment::~ScopedEnvironment() {
  SetEnvironmentVariableA(name_.c_str(), hadOld_ ? old_.c_str() : nullptr);
}

// Not declared by the SDK headers; user32 exports it.
extern "C" BOOL WINAPI SetShellWindow(HWND window);

DesktopShell::DesktopShell()
    : window_(CreateWindowExA(0, "STATIC", "desktop shell", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                              nullptr)) {
  if (window_ != nullptr) SetShellWindow(window_);
}

// The system forgets a shell window that is destroyed.
DesktopShell::~DesktopShell() {
  if (window_ != nullptr) DestroyWindow(window_);
}

}  // namespace driver
