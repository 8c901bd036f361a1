// Drives the real installer from another process, the way a user would: finds its
// pages and message boxes, clicks, types keys, reads texts and states, and takes
// screenshots. Also prepares and inspects what an installation touches (registry,
// files). Plain Win32: the demo tool links it without GoogleTest.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "shared/raii.h"
#include "support/test_files.h"

namespace driver {

constexpr DWORD kTimeoutMs = 15000;

// The three pages, each known by a control only it has.
enum class Page { Mode, Settings, Progress };
int PageControlId(Page page);
const char* PageName(Page page);

std::string EnvironmentValue(const char* name);
std::string BuildDir();        // VELMORIX_BUILD_DIR
std::string InstallerPath();   // VELMORIX_INSTALLER
std::string PayloadDir();      // VELMORIX_PAYLOAD_DIR

// One run of the installer. The destructor ends a process that is still running.
class InstallerProcess {
 public:
  // `screenshotPrefix` names the screenshots of this run ("<prefix>-<n>-<page>.bmp").
  explicit InstallerProcess(std::string screenshotPrefix);
  ~InstallerProcess();
  InstallerProcess(const InstallerProcess&) = delete;
  InstallerProcess& operator=(const InstallerProcess&) = delete;

  // `arguments` follow the quoted executable path on the command line as they stand.
  bool Start(const std::string& executable, const std::string& arguments = std::string());
  // A whole command line as a caller such as a deployment tool passes it on (the
  // program found in it as CreateProcess finds it).
  bool StartCommandLine(std::string commandLine, const char* executable = nullptr);
  // How often the waits below look again (20 ms unless set; the benchmark polls
  // faster for its timings).
  void SetPollInterval(DWORD pollMs) { pollMs_ = pollMs; }
  // Ends the process at once, as the task manager or a power cut would.
  bool Kill();
  DWORD ProcessId() const { return processId_; }
  DWORD ThreadId() const { return threadId_; }
  bool Running() const;

  // A visible page of this process; saves its screenshot. nullptr on timeout.
  HWND WaitForPage(Page page, DWORD timeoutMs = kTimeoutMs);
  // A visible message box of this process; nullptr on timeout.
  HWND WaitForMessageBox(DWORD timeoutMs = kTimeoutMs);
  // The visible message box, if any, at this moment.
  HWND FindMessageBox() const;
  // Any visible top-level window of this process at this moment.
  HWND FindVisibleWindow() const;
  // Waits for the process to end; false on timeout.
  bool WaitForExit(DWORD timeoutMs, DWORD* exitCode);

  // A key press delivered to the focused control through the installer's own loop.
  bool PressKey(WORD virtualKey);
  // The control that has the keyboard focus in the installer's thread.
  HWND FocusedWindow() const;

  void Screenshot(HWND window, const char* name);

 private:
  std::string prefix_;
  int shots_ = 0;
  UniqueHandle process_;
  DWORD processId_ = 0;
  DWORD threadId_ = 0;
  DWORD pollMs_ = 20;
};

// Controls and windows (any process).
HWND Control(HWND page, int id);
std::string WindowText(HWND window);            // WM_GETTEXT, in the ANSI code page
std::string ControlText(HWND page, int id);
bool SetControlText(HWND page, int id, const std::string& text);
bool IsControlEnabled(HWND page, int id);
bool IsControlChecked(HWND page, int id);
bool Click(HWND page, int id);                  // posted BM_CLICK: a modal box cannot block us
RECT WindowRect(HWND window);
bool MoveWindowTo(HWND window, int left, int top);
bool WaitForControlText(HWND page, int id, const std::string& text, DWORD timeoutMs = kTimeoutMs);
bool WaitUntilHidden(HWND window, DWORD timeoutMs = kTimeoutMs);
// Polls `condition` every `pollMs` until it holds or the time is up.
template <typename Condition>
bool WaitFor(Condition condition, DWORD timeoutMs = kTimeoutMs, DWORD pollMs = 20) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(pollMs);
  }
}

// Message boxes: the text is the static control 0xFFFF; buttons IDOK, IDYES, IDNO...
std::string MessageBoxText(HWND box);
bool PressMessageBoxButton(HWND box, int buttonId);

// A top-level window of class `className` belonging to a process other than `notProcess`.
HWND WaitForForeignWindow(const char* className, DWORD notProcess, DWORD timeoutMs = kTimeoutMs);
HWND FindForeignWindow(const char* className, DWORD notProcess);
// A visible dialog of any process that holds a control `controlId`.
HWND WaitForDialogWithControl(int controlId, DWORD timeoutMs = kTimeoutMs);
// Waits until no process runs from a file named `exeName` (such as "Uninstall.exe").
bool WaitForNoProcessNamed(const char* exeName, DWORD timeoutMs = kTimeoutMs);
// Ends every such process at once, as a power cut would; how many there were.
int KillProcessesNamed(const char* exeName);
// Asks the window to close and waits for its process to end; ends it by force otherwise.
bool CloseForeignWindow(HWND window, DWORD timeoutMs = kTimeoutMs);

// The window's screen rectangle as 24-bit bottom-up rows, as a BMP stores them.
struct Capture {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> pixels;
};
bool CaptureWindow(HWND window, Capture* capture);
// A BMP of the window's screen rectangle.
bool SaveWindowBitmap(HWND window, const std::string& path);
// Waits until the window and its controls have nothing left to paint and the
// window's pixels (caption included) hold still: a window captured the moment it
// appears can still be blank.
bool WaitUntilPainted(HWND window, DWORD timeoutMs = kTimeoutMs);
std::string ScreenshotFolder();  // $VELMORIX_BUILD_DIR\screenshots, created on demand

// The uninstall entry HKLM\...\Uninstall\Velmorix in the 64-bit view.
bool WriteUninstallLocation(const void* data, DWORD size);
bool WriteUninstallLocation(const std::string& location);  // REG_SZ with its terminator
bool ReadUninstallValue(const char* name, std::string* value);
void RemoveUninstallEntry();
// The .qzp association keys the installer writes under HKEY_CLASSES_ROOT.
void RemoveFileAssociation();
// Everything a default installation leaves: the uninstall entry, the association,
// both shortcuts and the Tarkweller folders under Program Files, the all-users
// profile and TEMP.
void RemoveDefaultInstallation();
// The journal a run keeps under HKLM\Software\VelmorixSetup, in both views, and the
// keep folders of runs at the root of C:.
void RemoveRunJournal();

// Files: the helpers every test level shares, and the driver's own.
using testsupport::DeleteTree;
using testsupport::FileExists;
using testsupport::FolderExists;
using testsupport::ReadWholeFile;
using testsupport::WriteWholeFile;
bool CreateFolders(const std::string& path);
std::vector<std::string> FilesUnder(const std::string& folder);  // recursive, full paths; links listed, not entered
std::string CommonFolder(int csidl);           // SHGetFolderPathA

// Sets an environment variable of this process (inherited by the installer) for a scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool hadOld_ = false;
};

// A window of this process made the desktop's shell window for a scope, as Explorer's
// is on Windows (Wine's desktop has none): the installer starts the program with the
// token of the shell window's process, and starts nothing without one. Where another
// shell window exists already, that one stays and this changes nothing.
class DesktopShell {
 public:
  DesktopShell();
  ~DesktopShell();
  DesktopShell(const DesktopShell&) = delete;
  DesktopShell& operator=(const DesktopShell&) = delete;

 private:
  HWND window_ = nullptr;
};

}  // namespace driver
