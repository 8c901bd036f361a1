// Helpers for the engine tests: payload archives laid out in memory, a scratch
// folder per test, a run and the scene around it, and the progress receiver that
// records every report of the worker thread.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <atomic>
#include <memory>

#include "engine/archive_reader.h"
#include "engine/payload_archive.h"
#include "engine/install_run.h"
#include "engine/install_worker.h"
#include "engine/run_files.h"
#include "engine/run_outcome.h"
#include "shared/failure_texts.h"
#include "resource_ids.h"
#include "shared/progress_report.h"
#include "support/payload_archive.h"
#include "support/test_files.h"
#include "shared/raii.h"

namespace enginetest {

using TestEntry = testsupport::ArchiveFile;

// count, 528-byte entries, then the data back to back.
inline std::vector<unsigned char> BuildArchive(const std::vector<TestEntry>& entries) {
  return testsupport::PayloadArchive(entries);
}

inline ArchiveView ViewOf(const std::vector<unsigned char>& bytes) {
  ArchiveView view;
  if (ValidateArchive(bytes.data(), bytes.size(), &view) != ArchiveError::None) view = ArchiveView{};
  return view;
}

// A run of one archive into one folder (no workpath file).
inline RunDestinations OneDestination(const ArchiveView* archive, const char* folder) {
  RunDestinations destinations;
  destinations.archives[0] = archive;
  destinations.folders[0] = folder;
  destinations.count = 1;
  return destinations;
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

// The file helpers every test level shares.
using testsupport::DeleteTree;
using testsupport::FileExists;
using testsupport::FolderExists;
using testsupport::KeepFoldersOnC;
using testsupport::ListFiles;
using testsupport::PlantLink;
using testsupport::ReadWholeFile;
using testsupport::RemoveLink;
using testsupport::RunUnixProgram;
using testsupport::UnixPathOf;
using testsupport::WaitForPath;
using testsupport::WriteWholeFile;

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
  enum Kind { Begin, FileStarted, FilePosition, FilesDone, Finished, WorkpathWritten, FileTypeAssociated, TakenBack };
  Kind kind;
  int value;         // total, position, files done, or 1 for a successful end
  std::string text;  // FileStarted, WorkpathWritten, FileTypeAssociated: the path; TakenBack: "step: path"
};

// What StepFailed last reported (cause None while nothing failed).
struct ReportedFailure {
  FailureCause cause = FailureCause::None;
  std::string path;  // "" when the report named none
  unsigned long systemError = 0;
};

// Stands in for the progress page: records every report a run makes (from whichever
// thread), and keeps the last failure reported, as a run's record does.
class RecordingProgress : public ProgressReport {
 public:
  RecordingProgress() { InitializeSRWLock(&lock_); }

  void Begin(int totalFiles) override { Add({ProgressEvent::Begin, totalFiles, std::string()}); }
  void FileStarted(const char* path) override { Add({ProgressEvent::FileStarted, 0, path}); }
  void FilePosition(int perMille) override { Add({ProgressEvent::FilePosition, perMille, std::string()}); }
  void FilesDone(int filesDone) override { Add({ProgressEvent::FilesDone, filesDone, std::string()}); }
  void Finished(bool succeeded) override { Add({ProgressEvent::Finished, succeeded ? 1 : 0, std::string()}); }
  void WorkpathWritten(const char* path) override { Add({ProgressEvent::WorkpathWritten, 0, path}); }
  void FileTypeAssociated(const char* extension) override { Add({ProgressEvent::FileTypeAssociated, 0, extension}); }
  void TakenBack(const char* step, const char* path) override {
    Add({ProgressEvent::TakenBack, 0, std::string(step) + ": " + path});
  }
  void StepFailed(FailureCause cause, const char* path, unsigned long systemError) override {
    AcquireSRWLockExclusive(&lock_);
    failure_ = {cause, path != nullptr ? path : "", systemError};
    ReleaseSRWLockExclusive(&lock_);
  }

  std::vector<ProgressEvent> Events() const {
    AcquireSRWLockShared(&lock_);
    std::vector<ProgressEvent> copy = events_;
    ReleaseSRWLockShared(&lock_);
    return copy;
  }
  // Forgets the reports, not the last failure.
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
  ReportedFailure LastFailure() const {
    AcquireSRWLockShared(&lock_);
    ReportedFailure copy = failure_;
    ReleaseSRWLockShared(&lock_);
    return copy;
  }
  // The sentence the user would be shown for the last failure ("" while nothing failed).
  const char* LastFailureText() const { return FailureText(LastFailure().cause); }
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
  ReportedFailure failure_;
};

// A run as the engine takes it: the request the test sets before the run, the record
// on the heap (it is large), the flags a page would share with the worker, and the
// InstallRun and WorkerJob over them. The InstallRun takes the request's receiver
// when it is first asked for, as a run takes it when it starts.
struct TestRun {
  TestRun() {
    request.cancelRequested = &cancelRequested;
    request.extractionPaused = &extractionPaused;
  }
  TestRun(const TestRun&) = delete;
  TestRun& operator=(const TestRun&) = delete;

  // The sentence the user would be shown for the run's last failure ("" for none).
  const char* ErrorText() const { return FailureText(record->failure.cause); }

  RunRequest request;
  std::unique_ptr<RunRecord> record = std::make_unique<RunRecord>();
  std::atomic<bool> cancelRequested{false};
  std::atomic<bool> extractionPaused{false};
  std::atomic<bool> workerRunning{false};
  std::atomic<bool> installSucceeded{false};
  WorkerJob job{&request, record.get(), &workerRunning, &installSucceeded};

  const InstallRun& Run() {
    if (!run_) run_ = std::make_unique<InstallRun>(request, *record);
    return *run_;
  }

 private:
  std::unique_ptr<InstallRun> run_;
};

// The scene of a run for the tests of its parts: the run (replaced by the next one as
// a new process starts), the receiver of its reports and a scratch folder. The run is
// committed when the test ends, which lets go of its keep folders.
class RunScene : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dest_.Path().empty());
    state_->request.progress = &progress_;
  }
  void TearDown() override { CommitRun(state_->Run()); }

  // The process ends here, its journal left as it stands, and the next run starts
  // with the same receiver.
  void NextRun() {
    state_ = std::make_unique<TestRun>();
    state_->request.progress = &progress_;
  }

  std::unique_ptr<TestRun> state_ = std::make_unique<TestRun>();
  RecordingProgress progress_;
  TempFolder dest_;
};

// What a process ended by the step seam returns.
constexpr DWORD kKilled = 255;

// The exit status of this test program run again as a child with only the tests
// `filter` picks, `variable` set to `value` (so that the child knows its part) and the
// step seam set to stop it at step `step` (0: never); a child stopped so ends with 255.
inline DWORD RunSelfStoppedAt(const std::string& filter, const char* variable, const std::string& value,
                              unsigned step) {
  char exe[MAX_PATH] = {};
  if (GetModuleFileNameA(nullptr, exe, MAX_PATH) == 0) return 1;
  std::string command = "\"" + std::string(exe) + "\" --gtest_filter=" + filter;
  SetEnvironmentVariableA(variable, value.c_str());
  SetEnvironmentVariableA("VELMORIX_STOP_AT_STEP", std::to_string(step).c_str());
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  const BOOL started =
      CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
  SetEnvironmentVariableA(variable, nullptr);
  SetEnvironmentVariableA("VELMORIX_STOP_AT_STEP", nullptr);
  if (!started) return 1;
  const UniqueHandle processHandle(process.hProcess);
  const UniqueHandle threadHandle(process.hThread);
  WaitForSingleObject(process.hProcess, 60000);
  DWORD exitCode = 1;
  GetExitCodeProcess(process.hProcess, &exitCode);
  return exitCode;
}

// How the runs of KillAtEveryStep ended.
struct KillTally {
  unsigned steps = 0;  // the step the child ran to its end at (0: it never did)
  int undone = 0;      // kills that the next start undid
  int finished = 0;    // kills that the next start finished
};

// Runs this test program's `filter` again as a child (`variable` set to `value`)
// killed at step 1, 2, ... until one child runs to its end, which must end with 0 and
// is checked by `ran`. Before each child `prepare` sets the scene; after each kill
// `recovered` recovers as the next start does, checks the outcome and says whether
// the run was undone (else it was finished); no keep folder may be left.
inline KillTally KillAtEveryStep(const std::string& filter, const char* variable, const std::string& value,
                                 unsigned maxSteps, const std::function<void()>& prepare,
                                 const std::function<void()>& ran, const std::function<bool()>& recovered) {
  KillTally tally;
  for (unsigned step = 1; step <= maxSteps; ++step) {
    SCOPED_TRACE("killed at step " + std::to_string(step));
    prepare();
    if (::testing::Test::HasFatalFailure()) return tally;
    const DWORD exitCode = RunSelfStoppedAt(filter, variable, value, step);
    if (exitCode != kKilled) {
      EXPECT_EQ(exitCode, 0u);
      ran();
      tally.steps = step;
      return tally;
    }
    ++(recovered() ? tally.undone : tally.finished);
    EXPECT_EQ(KeepFoldersOnC(), std::vector<std::string>{});
  }
  ADD_FAILURE() << "the run never ends";
  return tally;
}

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

// The file at `path` held open by "another program" (reading, sharing neither writing
// nor deletion) from now until `ms` later, when a thread of its own lets go.
class BriefHold {
 public:
  BriefHold(const std::string& path, DWORD ms)
      : file_(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)),
        held_(static_cast<bool>(file_)),
        release_([this, ms] {
          Sleep(ms);
          file_.Reset();
          return DWORD{0};
        }) {
    release_.Start();
  }
  bool Held() const { return held_; }
  // True once the hold has ended.
  bool Released() { return release_.Finish(); }

 private:
  UniqueHandle file_;
  const bool held_;
  PumpedThread release_;
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
