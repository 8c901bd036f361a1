// velmorix_bench [--uninstaller=<exe>] <tree folder> <rounds> <candidate>...
//
// Whole-installer benchmark, run by scripts/bench.sh. After one warm-up round
// (round 0), times the candidates in alternating rounds, each given as
//   wizard:<label>=<installer>  this installer, driven through its pages as a user
//                               would, visible, with the default choices: launch to
//                               the first page, the settings page's Next to the finish
//                               button, and launch to the finish button;
//   nsis:<label>=<installer>    an NSIS installer of the same tree (it closes itself
//                               when done, installing into C:\velmorix-bench\nsis):
//                               launch to exit;
//   xcopy                       xcopy of the tree: launch to exit.
// Each installation is then removed the way its own uninstaller does it, timed from
// launch to exit: this installer's by `Uninstall.exe /S` (the --uninstaller given, or
// the one installed), NSIS's by its uninstaller run in place and silent (`/S _?=`),
// which removes both folders with RMDir /r. Anything left is removed before each run.
// Tab-separated lines, times in seconds:
//   <label> <round> <launch to first page> <Next to finish> <launch to finish>   (wizard)
//   <label> <round> <launch to exit>                                            (others)
//   <label>:removal <round> <launch to exit>                       (wizard and nsis)
// Exit 0 when every run completed and left the whole tree on disk.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "e2e/driver/installer_driver.h"
#include "resource_ids.h"
#include "shared/texts.h"

namespace {

// NSIS installs below it (its InstallDir, written by scripts/bench.sh), xcopy too.
constexpr char kScratch[] = "C:\\velmorix-bench";
// The timed waits look again every millisecond; failures are looked for less often.
constexpr DWORD kPollMs = 1;
constexpr DWORD kInstallTimeoutMs = 300000;

class Stopwatch {
 public:
  Stopwatch() {
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&start_);
  }
  double Seconds() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - start_.QuadPart) / static_cast<double>(frequency_.QuadPart);
  }

 private:
  LARGE_INTEGER frequency_{};
  LARGE_INTEGER start_{};
};

bool Fail(const std::string& reason) {
  std::fprintf(stderr, "velmorix_bench: %s\n", reason.c_str());
  return false;
}

// True when `folder` holds as many files as `tree` (recursively).
bool SameFileCount(const std::string& tree, const std::string& folder) {
  const std::size_t expected = driver::FilesUnder(tree).size();
  const std::size_t found = driver::FilesUnder(folder).size();
  if (found == expected) return true;
  return Fail(folder + ": " + std::to_string(found) + " files, expected " + std::to_string(expected));
}

void CleanUp() {
  driver::RemoveDefaultInstallation();
  driver::DeleteTree(kScratch);
}

struct InstallerTimes {
  double firstPage = 0;
  double nextToFinish = 0;
  double launchToFinish = 0;
};

// The button's text as the system keeps it: reading it sends nothing to the
// installer, whose thread is busy with the worker's progress.
bool ShowsFinish(HWND button) {
  char text[32] = {};
  GetWindowTextA(button, text, sizeof(text));
  return std::strcmp(text, texts::kFinishButton) == 0;
}

bool RunInstaller(const std::string& installer, const std::string& tree, InstallerTimes* times,
                  std::string* installDir, std::string* workDir) {
  CleanUp();
  driver::InstallerProcess process("bench");
  process.SetPollInterval(kPollMs);
  const Stopwatch clock;
  if (!process.Start(installer)) return Fail("cannot start " + installer);
  HWND mode = process.WaitForPage(driver::Page::Mode);
  if (!mode) return Fail("the mode page did not appear");
  times->firstPage = clock.Seconds();
  driver::Click(mode, driver::PageControlId(driver::Page::Mode));
  HWND settings = process.WaitForPage(driver::Page::Settings);
  if (!settings) return Fail("the settings page did not appear");
  const double next = clock.Seconds();
  driver::Click(settings, driver::PageControlId(driver::Page::Settings));
  HWND progress = process.WaitForPage(driver::Page::Progress);
  if (!progress) return Fail("the progress page did not appear");
  HWND button = driver::Control(progress, IDC_PROGRESS_BUTTON);
  unsigned polls = 0;
  HWND box = nullptr;
  const bool finished = driver::WaitFor(
      [&] {
        if (ShowsFinish(button)) return true;
        return ++polls % 50 == 0 && (box = process.FindMessageBox()) != nullptr;
      },
      kInstallTimeoutMs, kPollMs);
  const double done = clock.Seconds();
  if (!finished || box) {
    return Fail(std::string("the installation did not finish") + (box ? ": " + driver::MessageBoxText(box) : ""));
  }
  times->nextToFinish = done - next;
  times->launchToFinish = done;

  // Finish without starting the program (the tree's executables are not programs).
  if (driver::IsControlChecked(progress, IDC_PROGRESS_RUN_PROGRAM)) {
    driver::Click(progress, IDC_PROGRESS_RUN_PROGRAM);
    if (!driver::WaitFor([&] { return !driver::IsControlChecked(progress, IDC_PROGRESS_RUN_PROGRAM); })) {
      return Fail("the start box stayed ticked");
    }
  }
  *installDir = driver::ControlText(settings, IDC_SETTINGS_INSTALL_EDIT);
  *workDir = driver::ControlText(settings, IDC_SETTINGS_WORK_EDIT);
  driver::Click(progress, IDC_PROGRESS_BUTTON);
  DWORD exitCode = 1;
  if (!process.WaitForExit(driver::kTimeoutMs, &exitCode) || exitCode != 0) return Fail("the installer did not end");
  // The install folder also holds the workpath file.
  const bool complete = driver::FilesUnder(*installDir).size() == driver::FilesUnder(tree + "\\bin").size() + 1 ||
                        Fail(*installDir + ": not every program file was installed");
  return complete && SameFileCount(tree + "\\work", *workDir);
}

// Runs a command line to its end, its output discarded; the time from launch to exit.
bool RunToExit(const std::string& commandLine, double* seconds) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  UniqueHandle nul(CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr));
  if (!nul) return Fail("cannot open NUL");
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul.Get();
  startup.hStdOutput = nul.Get();
  startup.hStdError = nul.Get();
  PROCESS_INFORMATION info{};
  std::string command = commandLine;
  const Stopwatch clock;
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
    return Fail("cannot start " + commandLine);
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  if (WaitForSingleObject(process.Get(), kInstallTimeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.Get(), 1);
    return Fail(commandLine + " did not end");
  }
  *seconds = clock.Seconds();
  DWORD exitCode = 1;
  GetExitCodeProcess(process.Get(), &exitCode);
  return exitCode == 0 || Fail(commandLine + " ended with " + std::to_string(exitCode));
}

// After a removal: none of `folders` is left.
bool AllGone(const std::vector<std::string>& folders) {
  for (const std::string& folder : folders)
    if (driver::FolderExists(folder)) return Fail(folder + " is still there after the removal");
  return true;
}

bool RunNsis(const std::string& nsisInstaller, const std::string& tree, double* seconds, double* removal) {
  CleanUp();
  const std::string target = std::string(kScratch) + "\\nsis";
  return RunToExit("\"" + nsisInstaller + "\"", seconds) && SameFileCount(tree + "\\bin", target + "\\program") &&
         SameFileCount(tree + "\\work", target + "\\work") &&
         RunToExit("\"" + target + "\\uninst.exe\" /S _?=" + target, removal) &&
         AllGone({target + "\\program", target + "\\work"});
}

bool RunXcopy(const std::string& tree, double* seconds) {
  CleanUp();
  const std::string target = std::string(kScratch) + "\\xcopy";
  return RunToExit("xcopy.exe /E /I /Q /Y \"" + tree + "\" \"" + target + "\"", seconds) &&
         SameFileCount(tree, target);
}

struct Candidate {
  std::string kind;  // wizard, nsis or xcopy
  std::string label;
  std::string path;
};

bool ParseCandidate(const std::string& argument, Candidate* candidate) {
  if (argument == "xcopy") {
    *candidate = {"xcopy", "xcopy", std::string()};
    return true;
  }
  const std::size_t colon = argument.find(':');
  const std::size_t equals = argument.find('=');
  if (colon == std::string::npos || equals == std::string::npos || equals < colon) return false;
  *candidate = {argument.substr(0, colon), argument.substr(colon + 1, equals - colon - 1), argument.substr(equals + 1)};
  return (candidate->kind == "wizard" || candidate->kind == "nsis") && !candidate->label.empty();
}

// One run of one candidate; prints its lines.
bool RunCandidate(const Candidate& candidate, const std::string& tree, const std::string& uninstaller, int round) {
  double removal = 0;
  if (candidate.kind == "wizard") {
    InstallerTimes times;
    std::string installDir;
    std::string workDir;
    if (!RunInstaller(candidate.path, tree, &times, &installDir, &workDir)) return false;
    std::printf("%s\t%d\t%.4f\t%.4f\t%.4f\n", candidate.label.c_str(), round, times.firstPage, times.nextToFinish,
                times.launchToFinish);
    const std::string program = uninstaller.empty() ? installDir + "\\Uninstall.exe" : uninstaller;
    if (!RunToExit("\"" + program + "\" /S", &removal) || !AllGone({installDir, workDir})) return false;
  } else {
    double seconds = 0;
    if (!(candidate.kind == "nsis" ? RunNsis(candidate.path, tree, &seconds, &removal) : RunXcopy(tree, &seconds)))
      return false;
    std::printf("%s\t%d\t%.4f\n", candidate.label.c_str(), round, seconds);
  }
  if (candidate.kind != "xcopy") std::printf("%s:removal\t%d\t%.4f\n", candidate.label.c_str(), round, removal);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const char kUsage[] =
      "usage: velmorix_bench [--uninstaller=EXE] <tree folder> <rounds> <wizard:L=EXE | nsis:L=EXE | xcopy>...\n";
  constexpr char kUninstallerOption[] = "--uninstaller=";
  std::string uninstaller;
  int first = 1;
  if (argc > 1 && std::strncmp(argv[1], kUninstallerOption, sizeof(kUninstallerOption) - 1) == 0) {
    uninstaller = argv[1] + sizeof(kUninstallerOption) - 1;
    first = 2;
  }
  if (argc < first + 3) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string tree = argv[first];
  const int rounds = std::atoi(argv[first + 1]);
  std::vector<Candidate> candidates;
  for (int i = first + 2; i < argc; ++i) {
    Candidate candidate;
    if (!ParseCandidate(argv[i], &candidate)) {
      std::fputs(kUsage, stderr);
      return 2;
    }
    candidates.push_back(candidate);
  }
  if (rounds < 1) {
    Fail("rounds must be 1 or more");
    return 2;
  }
  // Screenshots cost time: the driver takes none without a build folder.
  SetEnvironmentVariableA("VELMORIX_BUILD_DIR", nullptr);
  SetEnvironmentVariableA("VELMORIX_INSTALLER", nullptr);

  bool ok = true;
  for (int round = 0; ok && round <= rounds; ++round) {
    for (const Candidate& candidate : candidates) {
      ok = ok && RunCandidate(candidate, tree, uninstaller, round);
      std::fflush(stdout);
    }
  }
  CleanUp();
  return ok ? 0 : 1;
}
