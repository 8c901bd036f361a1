// Helpers for the engine tests: payload archives laid out in memory, a scratch
// folder per test, and a window standing in for the progress page that records
// every message the worker thread sends it while the test thread pumps.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/archive_reader.h"
#include "resource_ids.h"
#include "shared/raii.h"

namespace enginetest {

struct TestEntry {
  std::string sourcePath;
  std::string relativeFolder;
  std::string data;
};

// count, 528-byte entries, then the data back to back (little-endian, as i686 is).
inline std::vector<unsigned char> BuildArchive(const std::vector<TestEntry>& entries) {
  std::vector<unsigned char> bytes(kPayloadHeaderSize + entries.size() * kPayloadEntrySize);
  const auto count = static_cast<std::int32_t>(entries.size());
  std::memcpy(bytes.data(), &count, sizeof(count));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    PayloadEntry entry = {};
    std::strncpy(entry.sourcePath, entries[i].sourcePath.c_str(), kPayloadTextSize - 1);
    std::strncpy(entry.relativeFolder, entries[i].relativeFolder.c_str(), kPayloadTextSize - 1);
    entry.size = entries[i].data.size();
    std::memcpy(bytes.data() + kPayloadHeaderSize + i * kPayloadEntrySize, &entry, sizeof(entry));
  }
  for (const TestEntry& entry : entries) bytes.insert(bytes.end(), entry.data.begin(), entry.data.end());
  return bytes;
}

inline ArchiveView ViewOf(const std::vector<unsigned char>& bytes) {
  ArchiveView view;
  if (ValidateArchive(bytes.data(), bytes.size(), &view) != ArchiveError::None) view = ArchiveView{};
  return view;
}

// Bytes that differ from one offset to the next, so a misplaced chunk shows.
inline std::string Pattern(std::size_t size, unsigned seed = 1) {
  std::string data(size, '\0');
  std::uint32_t x = seed * 2654435761u + 12345u;
  for (char& c : data) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return data;
}

inline bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

inline bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

inline std::string ReadWholeFile(const std::string& path) {
  std::string content;
  const UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
  if (!file) return content;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) content.append(buffer, got);
  return content;
}

inline bool WriteWholeFile(const std::string& path, const std::string& content) {
  const UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
         written == content.size();
}

inline void DeleteTree(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      const std::string child = path + "\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        DeleteTree(child);
      } else {
        SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(child.c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(path.c_str());
}

// A fresh folder under the temporary directory (or under `parent`), removed with
// everything in it when the test ends.
class TempFolder {
 public:
  explicit TempFolder(const std::string& parent = std::string()) {
    std::string base = parent;
    if (base.empty()) {
      char temp[MAX_PATH];
      const DWORD length = GetTempPathA(MAX_PATH, temp);
      base.assign(temp, length > 0 && length < MAX_PATH ? length : 0);
      if (!base.empty() && base.back() == '\\') base.pop_back();
    }
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const std::string candidate = base + "\\vx" + std::to_string(GetCurrentProcessId()) + "_" +
                                    std::to_string(GetTickCount()) + "_" + std::to_string(++counter);
      if (CreateDirectoryA(candidate.c_str(), nullptr)) path_ = candidate;
    }
  }
  ~TempFolder() {
    if (!path_.empty()) DeleteTree(path_);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& tail) const { return path_ + "\\" + tail; }

 private:
  std::string path_;
};

struct PageMessage {
  int control;  // 0 for the page window itself
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  std::string text;  // WM_SETTEXT only
};

// A top-level window with the three progress controls as children, each a
// recorder. The worker thread reaches them with SendDlgItemMessageA.
class RecordingPage {
 public:
  RecordingPage() {
    RegisterClasses();
    window_ = CreateWindowExA(0, kPageClass, "page", WS_OVERLAPPEDWINDOW, 0, 0, 400, 200, nullptr, nullptr,
                              GetModuleHandleA(nullptr), this);
    for (int id : {IDC_PROGRESS_OVERALL, IDC_PROGRESS_CURRENT_FILE, IDC_PROGRESS_FILE}) {
      HWND child = CreateWindowExA(0, kControlClass, "", WS_CHILD, 0, 0, 10, 10, window_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), this);
      SetWindowLongPtrA(child, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
  }
  ~RecordingPage() { DestroyWindow(window_); }
  RecordingPage(const RecordingPage&) = delete;
  RecordingPage& operator=(const RecordingPage&) = delete;

  HWND Window() const { return window_; }
  std::vector<PageMessage> messages;
  // Called on the test thread for each recorded message, while the sender waits.
  std::function<void(const PageMessage&)> onMessage;

  // The positions sent to one bar with PBM_SETPOS, in order.
  std::vector<WPARAM> Positions(int control) const {
    std::vector<WPARAM> positions;
    for (const PageMessage& m : messages)
      if (m.control == control && m.message == PBM_SETPOS) positions.push_back(m.wParam);
    return positions;
  }

 private:
  static constexpr const char* kPageClass = "VelmorixTestPage";
  static constexpr const char* kControlClass = "VelmorixTestControl";

  static void RegisterClasses() {
    static bool registered = false;
    if (registered) return;
    WNDCLASSA page = {};
    page.lpfnWndProc = PageProc;
    page.hInstance = GetModuleHandleA(nullptr);
    page.lpszClassName = kPageClass;
    RegisterClassA(&page);
    WNDCLASSA control = page;
    control.lpfnWndProc = ControlProc;
    control.lpszClassName = kControlClass;
    RegisterClassA(&control);
    registered = true;
  }

  void Record(int control, UINT message, WPARAM wParam, LPARAM lParam) {
    PageMessage m{control, message, wParam, lParam, std::string()};
    if (message == WM_SETTEXT && lParam != 0) m.text = reinterpret_cast<const char*>(lParam);
    messages.push_back(m);
    if (onMessage) onMessage(m);
  }

  static LRESULT CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
      SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<RecordingPage*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self && message == WM_COMMAND) {
      self->Record(0, message, wParam, lParam);
      return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }

  static LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<RecordingPage*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    const bool progress = message >= WM_USER && message <= WM_USER + 20;
    if (self && (progress || message == WM_SETTEXT)) {
      self->Record(GetDlgCtrlID(window), message, wParam, lParam);
      return message == WM_SETTEXT ? TRUE : 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }

  HWND window_ = nullptr;
};

// Dispatches this thread's messages for `milliseconds`.
inline void PumpFor(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= milliseconds) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
  }
}

// A second thread running `work`, while this thread dispatches the messages it
// sends. Start() and Finish() split the two for tests that act in between.
class PumpedThread {
 public:
  explicit PumpedThread(std::function<DWORD()> work) : work_(std::move(work)) {}
  ~PumpedThread() {
    if (thread_) {
      Finish(60000);
      CloseHandle(thread_);
    }
  }
  PumpedThread(const PumpedThread&) = delete;
  PumpedThread& operator=(const PumpedThread&) = delete;

  void Start() { thread_ = CreateThread(nullptr, 0, &PumpedThread::Run, this, 0, nullptr); }
  // True when the thread ended within `timeout` ms.
  bool Finish(DWORD timeout = 120000) {
    if (!thread_) return false;
    const DWORD start = GetTickCount();
    for (;;) {
      const DWORD elapsed = GetTickCount() - start;
      if (elapsed >= timeout) return false;
      const DWORD wait = MsgWaitForMultipleObjects(1, &thread_, FALSE, timeout - elapsed, QS_ALLINPUT);
      // Bar positions arrive as notifications the thread does not wait for: some may
      // still be queued when it has ended.
      Drain();
      if (wait == WAIT_OBJECT_0) return true;
    }
  }
  static void Drain() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  DWORD ExitCode() const {
    DWORD code = 0;
    GetExitCodeThread(thread_, &code);
    return code;
  }

 private:
  static DWORD WINAPI Run(LPVOID self) { return static_cast<PumpedThread*>(self)->work_(); }
  std::function<DWORD()> work_;
  HANDLE thread_ = nullptr;
};

}  // namespace enginetest
