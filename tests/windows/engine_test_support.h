// Helpers for the engine tests: payload archives laid out in memory, a scratch
// folder per test, and a progress receiver standing in for the progress page that
// records every report of the worker thread.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/archive_reader.h"
#include "engine/run_files.h"
#include "resource_ids.h"
#include "shared/progress_report.h"
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
// A run of one archive into one folder (no workpath file).
inline RunDestinations OneDestination(const ArchiveView* archive, const char* folder) {
  RunDestinations destinations;
  destinations.archives[0] = archive;
  destinations.folders[0] = folder;
  destinations.count = 1;
  return destinations;
}

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

// Starts a Linux program by its Unix path (Wine starts such a file as a Unix process);
// Wine only. `arguments` are quoted as Windows quotes them. Wine's handle to a Unix
// process cannot be waited for: callers wait for the program's effect.
inline bool RunUnixProgram(const std::string& program, const std::vector<std::string>& arguments) {
  std::string commandLine = "\"Z:" + program + "\"";
  for (const std::string& argument : arguments) commandLine += " \"" + argument + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// The Unix path Wine maps a Windows path to (the last component need not exist).
inline std::string UnixPathOf(const std::string& windowsPath) {
  using UnixName = char*(CDECL*)(LPCWSTR);
  const FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
  if (found == nullptr) return std::string();
  std::wstring wide(windowsPath.size() + 1, L'\0');
  wide.resize(static_cast<std::size_t>(
      MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, &wide[0], static_cast<int>(wide.size()))));
  char* unix = reinterpret_cast<UnixName>(reinterpret_cast<void*>(found))(wide.c_str());
  if (unix == nullptr) return std::string();
  const std::string result = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

// Waits until `path` exists (or, with `exists` false, is gone) as Wine sees it.
inline bool WaitForPath(const std::string& path, bool exists) {
  for (int i = 0; i < 500; ++i) {
    // A link to a folder shows its own attributes; one to nothing shows none.
    const bool there = GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (there == exists) return true;
    Sleep(10);
  }
  return false;
}

// A symbolic link at `linkPath` to `targetPath`, made from the Linux side as anyone
// who can write the folder could: Wine shows a link to a folder as a reparse point
// (attributes 0x410) and follows one to a file. Wine's own CreateSymbolicLink makes
// nothing.
inline bool PlantLink(const std::string& targetPath, const std::string& linkPath) {
  const std::string target = UnixPathOf(targetPath);
  const std::string link = UnixPathOf(linkPath);
  // Only where nothing stands yet (ln would put the link inside a folder standing there).
  return GetFileAttributesA(linkPath.c_str()) == INVALID_FILE_ATTRIBUTES && !target.empty() && !link.empty() &&
         RunUnixProgram("/bin/ln", {"-s", "-T", target, link}) && WaitForPath(linkPath, true);
}

// Removes a link planted by PlantLink, never what it points to (Wine's
// RemoveDirectory on a link to a folder removes the folder it points to).
inline bool RemoveLink(const std::string& linkPath) {
  const std::string link = UnixPathOf(linkPath);
  return !link.empty() && RunUnixProgram("/bin/rm", {"-f", link}) && WaitForPath(linkPath, false);
}

inline void DeleteTree(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      const std::string child = path + "\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        RemoveLink(child);  // never followed
      } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
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

// Every file below `folder`, hidden ones included, as paths relative to it, sorted.
inline std::vector<std::string> ListFiles(const std::string& folder, const std::string& prefix = std::string()) {
  std::vector<std::string> files;
  WIN32_FIND_DATAA found;
  const UniqueFind search(FindFirstFileA((folder + "\\*").c_str(), &found));
  if (!search) return files;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      const std::vector<std::string> inner = ListFiles(folder + "\\" + name, prefix + name + "\\");
      files.insert(files.end(), inner.begin(), inner.end());
    } else {
      files.push_back(prefix + name);
    }
  } while (FindNextFileA(search.Get(), &found));
  std::sort(files.begin(), files.end());
  return files;
}

// The keep folders of runs at the root of drive C: (where the temporary folders lie),
// as full paths.
inline std::vector<std::string> KeepFoldersOnC() {
  std::vector<std::string> folders;
  WIN32_FIND_DATAA found;
  const UniqueFind search(FindFirstFileA("C:\\~VelmorixKeep.*", &found));
  if (!search) return folders;
  do {
    folders.push_back(std::string("C:\\") + found.cFileName);
  } while (FindNextFileA(search.Get(), &found));
  return folders;
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

// One report of a run, in the order the worker made it.
struct ProgressEvent {
  enum Kind { Begin, FileStarted, FilePosition, FilesDone, Finished };
  Kind kind;
  int value;         // total, position, files done, or 1 for a successful end
  std::string text;  // FileStarted only
};

// Stands in for the progress page: records every report the worker thread makes.
class RecordingProgress : public ProgressReport {
 public:
  RecordingProgress() { InitializeSRWLock(&lock_); }

  void Begin(int totalFiles) override { Add({ProgressEvent::Begin, totalFiles, std::string()}); }
  void FileStarted(const char* path) override { Add({ProgressEvent::FileStarted, 0, path}); }
  void FilePosition(int perMille) override { Add({ProgressEvent::FilePosition, perMille, std::string()}); }
  void FilesDone(int filesDone) override { Add({ProgressEvent::FilesDone, filesDone, std::string()}); }
  void Finished(bool succeeded) override { Add({ProgressEvent::Finished, succeeded ? 1 : 0, std::string()}); }

  std::vector<ProgressEvent> Events() const {
    AcquireSRWLockShared(&lock_);
    std::vector<ProgressEvent> copy = events_;
    ReleaseSRWLockShared(&lock_);
    return copy;
  }
  void Clear() {
    AcquireSRWLockExclusive(&lock_);
    events_.clear();
    ReleaseSRWLockExclusive(&lock_);
  }
  // The values of one kind of report, in order.
  std::vector<int> Values(ProgressEvent::Kind kind) const {
    std::vector<int> values;
    for (const ProgressEvent& e : Events())
      if (e.kind == kind) values.push_back(e.value);
    return values;
  }
  // Called on the worker thread after each report is recorded.
  std::function<void(const ProgressEvent&)> onEvent;

 private:
  void Add(const ProgressEvent& e) {
    AcquireSRWLockExclusive(&lock_);
    events_.push_back(e);
    ReleaseSRWLockExclusive(&lock_);
    if (onEvent) onEvent(e);
  }
  mutable SRWLOCK lock_;
  std::vector<ProgressEvent> events_;
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

// Runs `work` on a second thread, as the installation worker runs, while this thread
// dispatches what it sends; false also when it did not end in time.
inline bool OnWorkerThread(const std::function<bool()>& work) {
  bool result = false;
  PumpedThread worker([&] {
    result = work();
    return DWORD{0};
  });
  worker.Start();
  return worker.Finish() && result;
}

}  // namespace enginetest
