// Runs over an earlier installation made by the installer itself: cancelled, failing
// late, killed or cut short by the end of the session, each leaves the earlier files
// exactly as they were. Links planted in the work tree: nothing is written through
// them, and the clean-up deletes nothing they lead to. A work folder too long for its
// deepest destination: nothing is written at all.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "resource_ids.h"
#include "e2e/e2e_fixture.h"
#include "engine/archive_reader.h"
#include "engine/payload_archive.h"
#include "windows/engine_test_support.h"

namespace e2e {
namespace {

using Snapshot = std::map<std::string, std::vector<unsigned char>>;

constexpr int kButton = IDC_PROGRESS_BUTTON;
constexpr int kSettingsNext = IDC_SETTINGS_NEXT;
// A system folder a standard user could not write, for links planted to lead to.
const std::string kVictim = "C:\\windows\\vxvictim";

class RunSafetyTest : public InstallerTest {
 protected:
  void SetUp() override {
    InstallerTest::SetUp();
    ASSERT_TRUE(driver::CreateFolders(kScratch));
  }
  void TearDown() override {
    InstallerTest::TearDown();
    driver::DeleteTree(kVictim);
  }

  // An installation made by the installer itself, no shortcuts, then every file but
  // workpath changed as a later version or the user would, so that a run writing the
  // payload again shows in every file.
  void InstallEarlierVersion() {
    Start();
    HWND progress = InstallThroughTheWizard(installDir_, workDir_, false);
    ASSERT_NE(progress, nullptr);
    ASSERT_TRUE(driver::WaitForControlText(progress, kButton, "Готово"));
    UntickRunProgram(progress);
    ASSERT_TRUE(Click(progress, kButton));
    ExpectExitZero();
    for (const std::string& folder : {installDir_, workDir_}) {
      for (const std::string& file : driver::FilesUnder(folder)) {
        if (file == installDir_ + "\\workpath") continue;
        std::vector<unsigned char> bytes;
        ASSERT_TRUE(driver::ReadWholeFile(file, &bytes));
        const std::string mark = "|earlier " + file;
        bytes.insert(bytes.end(), mark.begin(), mark.end());
        ASSERT_TRUE(driver::WriteWholeFile(file, bytes.data(), bytes.size()));
      }
    }
    ASSERT_TRUE(driver::WriteWholeFile(workDir_ + "\\notes of the user.txt", "mine", 4));
    earlier_ = TakeSnapshot();
    ASSERT_GT(earlier_.size(), 15u);
  }

  // Every file of both folders with its bytes.
  Snapshot TakeSnapshot() const {
    Snapshot files;
    for (const std::string& folder : {installDir_, workDir_}) {
      for (const std::string& file : driver::FilesUnder(folder)) driver::ReadWholeFile(file, &files[file]);
    }
    return files;
  }

  // The earlier installation is back: the same files, byte for byte, and no other.
  ::testing::AssertionResult EarlierInstallationIntact() const {
    const Snapshot now = TakeSnapshot();
    for (const auto& file : now) {
      const auto earlier = earlier_.find(file.first);
      if (earlier == earlier_.end()) return ::testing::AssertionFailure() << "left behind: " << file.first;
      if (earlier->second != file.second) return ::testing::AssertionFailure() << "changed: " << file.first;
    }
    for (const auto& file : earlier_) {
      if (now.count(file.first) == 0) return ::testing::AssertionFailure() << "missing: " << file.first;
    }
    return ::testing::AssertionSuccess();
  }

  // The test build, held `pauseMs` after every file, reinstalling through the wizard.
  HWND StartSlowReinstallation(const char* pauseMs) {
    pace_ = std::make_unique<driver::ScopedEnvironment>("VELMORIX_FILE_PAUSE_MS", pauseMs);
    if (!StartAndChoose(IDC_MODE_REPAIR, driver::EnvironmentValue("VELMORIX_TRACED_INSTALLER"))) return nullptr;
    HWND settings = Installer().WaitForPage(Page::Settings);
    if (!settings || !Click(settings, kSettingsNext)) return nullptr;
    return Installer().WaitForPage(Page::Progress);
  }

  // The failure box answered: the page offers "Закрыть".
  static ::testing::AssertionResult DismissFailure(HWND box, HWND progress) {
    if (!driver::PressMessageBoxButton(box, IDOK)) return ::testing::AssertionFailure() << "no OK button";
    if (!driver::WaitForControlText(progress, kButton, "Закрыть")) return ::testing::AssertionFailure() << "no Закрыть";
    return ::testing::AssertionSuccess();
  }
  // "Закрыть" pressed: the installer ends with 0.
  void CloseFailedRun(HWND progress) {
    ASSERT_TRUE(Click(progress, kButton));
    ExpectExitZero();
  }

  // Waits until the run has replaced `count` earlier files of `folder` (each moved
  // aside, out of the folder, and a new one in its place). Sizes tell, read without
  // opening a file: a reader holding one open would make the run's move fail.
  bool WaitUntilKept(const std::string& folder, std::size_t count) const {
    return driver::WaitFor(
        [&] {
          std::size_t replaced = 0;
          for (const auto& file : earlier_) {
            WIN32_FILE_ATTRIBUTE_DATA now{};
            if (file.first.compare(0, folder.size() + 1, folder + "\\") == 0 &&
                GetFileAttributesExA(file.first.c_str(), GetFileExInfoStandard, &now) &&
                (now.nFileSizeLow != file.second.size() || now.nFileSizeHigh != 0))
              ++replaced;
          }
          return replaced >= count;
        },
        30000);
  }

  // An unattended reinstallation into this test's folders by the test build, held
  // `pauseMs` after every file, logging to log_.
  driver::InstallerProcess& StartUnattendedReinstallation(const char* pauseMs) {
    pace_ = std::make_unique<driver::ScopedEnvironment>("VELMORIX_FILE_PAUSE_MS", pauseMs);
    return Start(driver::EnvironmentValue("VELMORIX_TRACED_INSTALLER"), UnattendedArguments());
  }
  std::string UnattendedArguments() const {
    return "/S \"/D=" + installDir_ + "\" \"/WORKDIR=" + workDir_ + "\" /NODESKTOP /NOSTARTMENU \"/LOG=" + log_ + "\"";
  }
  DWORD ExitCode() {
    DWORD exitCode = 99;
    EXPECT_TRUE(Installer().WaitForExit(60000, &exitCode)) << "the installer did not end";
    return exitCode;
  }
  // The wizard started and closed at its mode page: whatever a killed run left has
  // been recovered by then.
  void StartAndCloseTheWizard() {
    Start();
    HWND mode = Installer().WaitForPage(Page::Mode);
    ASSERT_NE(mode, nullptr);
    ASSERT_TRUE(Click(mode, IDC_MODE_CANCEL));
    ExpectExitZero();
  }

  // A folder under C:\windows that a standard user could not write, with files named
  // as the ones of `like`; its files and bytes.
  Snapshot MakeVictim(const std::string& like) {
    driver::DeleteTree(kVictim);
    EXPECT_TRUE(driver::CreateFolders(kVictim));
    for (const std::string& file : driver::FilesUnder(like)) {
      const std::string copy = kVictim + file.substr(like.size());
      const std::string content = "victim " + copy;
      EXPECT_TRUE(driver::CreateFolders(copy.substr(0, copy.rfind('\\'))));
      EXPECT_TRUE(driver::WriteWholeFile(copy, content.data(), content.size()));
    }
    return VictimNow();
  }
  static Snapshot VictimNow() {
    Snapshot files;
    for (const std::string& file : driver::FilesUnder(kVictim)) driver::ReadWholeFile(file, &files[file]);
    return files;
  }

  const std::string log_ = std::string(kScratch) + "\\setup.log";
  const std::string installDir_ = std::string(kScratch) + "\\earlier\\program";
  const std::string workDir_ = std::string(kScratch) + "\\earlier\\work";
  Snapshot earlier_;
  std::unique_ptr<driver::ScopedEnvironment> pace_;
};

TEST_F(RunSafetyTest, ACancelledReinstallationLeavesTheEarlierInstallationAsItWas) {
  ASSERT_NO_FATAL_FAILURE(InstallEarlierVersion());
  HWND progress = StartSlowReinstallation("300");
  ASSERT_NE(progress, nullptr);
  // Cancelled while the work archive is written, after it replaced earlier work files.
  ASSERT_TRUE(WaitUntilKept(workDir_, 2));
  ASSERT_FALSE(EarlierInstallationIntact());
  ASSERT_TRUE(Click(progress, kButton));
  HWND question = Installer().WaitForMessageBox();
  ASSERT_NE(question, nullptr);
  ASSERT_TRUE(driver::PressMessageBoxButton(question, IDYES));
  ExpectExitZero();
  EXPECT_TRUE(EarlierInstallationIntact());
}

// Installing again into the same folders fails at its last step, a shortcut that
// cannot be made, after both archives were written over the earlier files.
TEST_F(RunSafetyTest, AReinstallationFailingAtItsLastStepLeavesTheEarlierInstallationAsItWas) {
  ASSERT_NO_FATAL_FAILURE(InstallEarlierVersion());
  HWND progress = nullptr;
  HWND box = InstallFailingAtTheDesktopShortcut(installDir_, workDir_, &progress);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(driver::MessageBoxText(box), "Невозможно создать ярлык на рабочем столе");
  ASSERT_FALSE(EarlierInstallationIntact()) << "the run wrote nothing over the earlier files";
  ASSERT_TRUE(DismissFailure(box, progress));
  EXPECT_TRUE(EarlierInstallationIntact());
  CloseFailedRun(progress);
}

TEST_F(RunSafetyTest, AKilledReinstallationIsPutBackBeforeTheModePageShows) {
  ASSERT_NO_FATAL_FAILURE(InstallEarlierVersion());
  ASSERT_NE(StartSlowReinstallation("300"), nullptr);
  ASSERT_TRUE(WaitUntilKept(installDir_, 2));
  ASSERT_TRUE(Installer().Kill());
  ASSERT_FALSE(EarlierInstallationIntact());

  Start();
  HWND mode = Installer().WaitForPage(Page::Mode);
  ASSERT_NE(mode, nullptr);
  EXPECT_TRUE(EarlierInstallationIntact());
  ASSERT_TRUE(Click(mode, IDC_MODE_CANCEL));
  ExpectExitZero();
}

TEST_F(RunSafetyTest, TheEndOfTheSessionDuringAReinstallationRollsItBackBeforeTheProcessEnds) {
  ASSERT_NO_FATAL_FAILURE(InstallEarlierVersion());
  HWND progress = StartSlowReinstallation("300");
  ASSERT_NE(progress, nullptr);
  ASSERT_TRUE(WaitUntilKept(workDir_, 1));
  DWORD_PTR answer = 0;
  const auto logOff = static_cast<LPARAM>(static_cast<LONG>(ENDSESSION_LOGOFF));
  SendMessageTimeoutA(progress, WM_QUERYENDSESSION, 0, logOff, SMTO_ABORTIFHUNG, 5000, &answer);
  SendMessageTimeoutA(progress, WM_ENDSESSION, TRUE, logOff, SMTO_ABORTIFHUNG, 20000, &answer);
  // The system would end the process now; it has undone the run first.
  EXPECT_TRUE(EarlierInstallationIntact());
  ExpectExitZero();
}

// The deepest folder of the work archive is one character longer than CreateDirectory
// takes (MAX_PATH - 12): the run fails before writing anything.
TEST_F(RunSafetyTest, AWorkFolderTooLongForItsDeepestDestinationWritesNothing) {
  std::vector<unsigned char> work;
  ASSERT_TRUE(driver::ReadWholeFile(driver::PayloadDir() + "\\work.bin", &work));
  ArchiveView view;
  ASSERT_EQ(ValidateArchive(work.data(), work.size(), &view), ArchiveError::None);
  std::size_t deepest = 0;
  for (std::int32_t i = 0; i < view.count; ++i) {
    deepest = std::max(deepest, std::strlen(ReadPayloadEntry(view, i).relativeFolder) - 1);
  }
  const std::string base = std::string(kScratch) + "\\long\\";
  const std::string workDir = base + std::string(248 - deepest + 1 - base.size(), 'w');
  const std::string installDir = std::string(kScratch) + "\\long\\program";
  HWND progress = nullptr;
  HWND box = InstallUntilTheFailureBox(installDir, workDir, false, &progress);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(driver::MessageBoxText(box), "Невозможно создать директори(ю/и) установки, возможно нет прав");
  EXPECT_EQ(driver::FilesUnder(installDir), std::vector<std::string>{});
  EXPECT_EQ(driver::FilesUnder(workDir), std::vector<std::string>{});
  ASSERT_TRUE(DismissFailure(box, progress));
  CloseFailedRun(progress);
}

TEST_F(RunSafetyTest, AFolderLinkPlantedInTheWorkTreeIsNotWrittenThrough) {
  const std::string outside = std::string(kScratch) + "\\outside";
  ASSERT_TRUE(driver::CreateFolders(outside));
  // Slow enough that the program archive is still being written when the page shows.
  driver::ScopedEnvironment pace("VELMORIX_FILE_PAUSE_MS", "1500");
  Start(driver::EnvironmentValue("VELMORIX_TRACED_INSTALLER"));
  HWND progress = InstallThroughTheWizard(installDir_, workDir_, false);
  ASSERT_NE(progress, nullptr);
  // While the program archive is written, the work tree's first folder becomes a link.
  ASSERT_TRUE(driver::WaitFor([&] { return !driver::FilesUnder(installDir_).empty(); }));
  ASSERT_TRUE(enginetest::PlantLink(outside, workDir_ + "\\workdir"));
  ASSERT_TRUE(driver::FilesUnder(workDir_ + "\\workdir").empty());
  HWND box = Installer().WaitForMessageBox(30000);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(driver::MessageBoxText(box), "Невозможно создать файл(ы) установки, возможно нет прав");
  ASSERT_TRUE(DismissFailure(box, progress));
  EXPECT_EQ(driver::FilesUnder(outside), std::vector<std::string>{});
  // The program files are gone again, the workpath file of a first run with them.
  EXPECT_EQ(driver::FilesUnder(installDir_), std::vector<std::string>{});
  EXPECT_TRUE(enginetest::RemoveLink(workDir_ + "\\workdir"));
  CloseFailedRun(progress);
}

TEST_F(RunSafetyTest, ALinkRepointedBeforeTheCleanUpLeadsItToNothingOutside) {
  HWND progress = nullptr;
  HWND box = InstallFailingAtTheDesktopShortcut(installDir_, workDir_, &progress);
  ASSERT_NE(box, nullptr);
  // While the failure is shown, libs moves away and a link to a folder holding files of
  // the same names takes its place.
  const std::string libs = workDir_ + "\\workdir\\libs";
  const std::string outside = std::string(kScratch) + "\\outside";
  const std::vector<std::string> runFiles = driver::FilesUnder(libs);
  ASSERT_FALSE(runFiles.empty());
  ASSERT_TRUE(MoveFileA(libs.c_str(), (libs + ".moved").c_str()));
  Snapshot outsideFiles;
  for (const std::string& file : runFiles) {
    const std::string copy = outside + file.substr(libs.size());
    const std::string content = "outside " + copy;
    ASSERT_TRUE(driver::CreateFolders(copy.substr(0, copy.rfind('\\'))));
    ASSERT_TRUE(driver::WriteWholeFile(copy, content.data(), content.size()));
    outsideFiles[copy].assign(content.begin(), content.end());
  }
  ASSERT_TRUE(enginetest::PlantLink(outside, libs));
  ASSERT_TRUE(DismissFailure(box, progress));
  for (const auto& file : outsideFiles) {
    std::vector<unsigned char> bytes;
    EXPECT_TRUE(driver::ReadWholeFile(file.first, &bytes) && bytes == file.second) << file.first;
  }
  EXPECT_TRUE(enginetest::RemoveLink(libs));
  CloseFailedRun(progress);
}

// Kept files lie outside the users' tree, in a folder whose access list (seen at its
// seam: Wine keeps none) only Administrators and SYSTEM pass; one that is in use when
// the run ends goes at the restart, and the unattended run says so with 3010.
TEST_F(RunSafetyTest, AKeptFileInUseWhenTheRunEndsIsDeletedAtTheRestartAndTheRunEndsWith3010) {
  ASSERT_NO_FATAL_FAILURE(InstallEarlierVersion());
  const std::string trace = std::string(kScratch) + "\\access.txt";
  driver::ScopedEnvironment traceVariable("VELMORIX_ACCESS_TRACE", trace);
  StartUnattendedReinstallation("200");
  // An earlier file in use, as a program still running holds it: no delete sharing.
  UniqueHandle inUse;
  std::string inUsePath;
  ASSERT_TRUE(driver::WaitFor(
      [&] {
        for (const std::string& keep : enginetest::KeepFoldersOnC()) {
          for (const std::string& file : driver::FilesUnder(keep)) {
            inUse.Reset(CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
            if (inUse) inUsePath = file;
            if (inUse) return true;
          }
        }
        return false;
      },
      30000));
  EXPECT_EQ(ExitCode(), 3010u);
  const std::vector<std::string> lines = LogLines(log_);
  EXPECT_TRUE(HasLineContaining(lines, "deleted at the next restart: ")) << "the log names the file";
  EXPECT_TRUE(HasLine(lines, "exit status 3010 (installed, restart pending)"));
  std::string pending(32768, '\0');
  DWORD size = static_cast<DWORD>(pending.size());
  ASSERT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                         "PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, &pending[0], &size),
            ERROR_SUCCESS);
  EXPECT_NE(pending.find(inUsePath.substr(inUsePath.rfind('\\'))), std::string::npos);
  // The keep folders were made with the protected list for Administrators and SYSTEM.
  std::vector<unsigned char> traced;
  ASSERT_TRUE(driver::ReadWholeFile(trace, &traced));
  const std::string text(traced.begin(), traced.end());
  const std::string keepFolder = inUsePath.substr(0, inUsePath.rfind('\\'));
  EXPECT_NE(text.find(keepFolder + "\tO:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)\r\n"), std::string::npos) << text;
  EXPECT_EQ(keepFolder.rfind('\\'), 2u) << "at the volume's root, not in the users' tree";
  // Once the file is free, the next start finishes the run's clean-up.
  inUse.Reset();
  ASSERT_NO_FATAL_FAILURE(StartAndCloseTheWizard());
  EXPECT_EQ(enginetest::KeepFoldersOnC(), std::vector<std::string>{});
}

// A lock that a user made first (not even held: only its owner is not Administrators)
// stops both the wizard and the unattended run before they touch anything, the killed
// run's journal included. Then the killed run's folder is swapped for a link to a system folder
// before the next start: recovery goes nowhere through it, keeps what it could not
// put back, and finishes once the folder is back.
TEST_F(RunSafetyTest, AHeldLockEndsTheRunUntouchedAndAKilledRunsSwappedFolderLeadsRecoveryNowhere) {
  ASSERT_NO_FATAL_FAILURE(InstallEarlierVersion());
  ASSERT_NE(StartSlowReinstallation("300"), nullptr);
  ASSERT_TRUE(WaitUntilKept(installDir_, 2));
  ASSERT_TRUE(Installer().Kill());
  const Snapshot killed = TakeSnapshot();

  {
    const UniqueHandle squatted(CreateMutexA(nullptr, FALSE, "Global\\VelmorixSetupRun"));
    ASSERT_TRUE(squatted);
    Start(driver::InstallerPath(), UnattendedArguments());
    EXPECT_EQ(ExitCode(), 1618u);
    EXPECT_TRUE(HasLine(LogLines(log_), "exit status 1618 (another installation in progress)"));
    Start();
    HWND box = Installer().WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(driver::MessageBoxText(box), "Уже идет другая установка, повторите попытку позже");
    ASSERT_TRUE(driver::PressMessageBoxButton(box, IDOK));
    EXPECT_EQ(ExitCode(), 1618u);
    EXPECT_TRUE(TakeSnapshot() == killed) << "nothing was recovered or written";
  }

  const Snapshot victim = MakeVictim(installDir_);
  const std::string moved = installDir_ + ".moved";
  ASSERT_TRUE(MoveFileA(installDir_.c_str(), moved.c_str()));
  ASSERT_TRUE(enginetest::PlantLink(kVictim, installDir_));
  ASSERT_NO_FATAL_FAILURE(StartAndCloseTheWizard());
  EXPECT_TRUE(VictimNow() == victim) << "recovery went through the link";
  ASSERT_TRUE(enginetest::RemoveLink(installDir_));
  ASSERT_TRUE(MoveFileA(moved.c_str(), installDir_.c_str()));
  ASSERT_NO_FATAL_FAILURE(StartAndCloseTheWizard());
  EXPECT_TRUE(EarlierInstallationIntact());
  EXPECT_EQ(enginetest::KeepFoldersOnC(), std::vector<std::string>{});
}

// While the run writes the work archive, every folder on the way is tried as a user
// would: a folder the run holds cannot be renamed; where a rename succeeds (a folder
// it is done with), a link to a system folder takes its place. Nothing there is
// touched, and the run either succeeded or left the earlier installation as it was.
TEST_F(RunSafetyTest, HeldFoldersCannotBeRenamedAndLinksPlantedWhereARenameSucceedsLeadNowhere) {
  ASSERT_NO_FATAL_FAILURE(InstallEarlierVersion());
  const Snapshot victim = MakeVictim(workDir_);
  StartUnattendedReinstallation("300");
  ASSERT_TRUE(WaitUntilKept(workDir_, 2));
  std::vector<std::string> folders = {kScratch, std::string(kScratch) + "\\earlier", installDir_, workDir_};
  for (const std::string& root : {installDir_, workDir_}) {
    for (const std::string& file : driver::FilesUnder(root)) {
      for (std::size_t at = file.rfind('\\'); at > root.size(); at = file.rfind('\\', at - 1))
        folders.push_back(file.substr(0, at));
    }
  }
  for (const std::string& keep : enginetest::KeepFoldersOnC()) folders.push_back(keep);
  std::sort(folders.begin(), folders.end());
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  std::vector<std::string> swapped;
  int refused = 0;
  for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {  // deepest first
    if (MoveFileA(folder->c_str(), (*folder + ".moved").c_str())) {
      swapped.push_back(*folder);
      EXPECT_TRUE(enginetest::PlantLink(kVictim, *folder)) << *folder;
    } else {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << *folder;
      ++refused;
    }
  }
  EXPECT_GE(refused, 4) << "the work folder, the folders above it and the keep folders are held";
  const DWORD exitCode = ExitCode();
  EXPECT_TRUE(exitCode == 0 || exitCode == 1) << exitCode;
  EXPECT_TRUE(VictimNow() == victim) << "the run went through a link";
  for (auto folder = swapped.rbegin(); folder != swapped.rend(); ++folder) {
    EXPECT_TRUE(enginetest::RemoveLink(*folder));
    EXPECT_TRUE(MoveFileA((*folder + ".moved").c_str(), folder->c_str())) << *folder;
  }
  ASSERT_NO_FATAL_FAILURE(StartAndCloseTheWizard());
  if (exitCode == 0) {
    EXPECT_TRUE(PayloadUnpacked("program.bin", installDir_));
    EXPECT_TRUE(PayloadUnpacked("work.bin", workDir_));
  } else {
    EXPECT_TRUE(EarlierInstallationIntact());
  }
}

// A hard link to the program, planted at a work file's destination while a first
// installation runs: the run's own file under another name is never reused (it would
// be emptied); the run fails instead and the program's bytes stay whole.
TEST_F(RunSafetyTest, AHardLinkToTheProgramPlantedAtAWorkDestinationIsRefused) {
  std::vector<unsigned char> work;
  ASSERT_TRUE(driver::ReadWholeFile(driver::PayloadDir() + "\\work.bin", &work));
  ArchiveView view;
  ASSERT_EQ(ValidateArchive(work.data(), work.size(), &view), ArchiveError::None);
  const PayloadEntry last = ReadPayloadEntry(view, view.count - 1);
  const std::string relative = last.relativeFolder;
  const std::string destination = workDir_ + relative.substr(0, relative.size() - 1) + "\\" + PayloadFileName(last);
  driver::ScopedEnvironment pace("VELMORIX_FILE_PAUSE_MS", "300");
  Start(driver::EnvironmentValue("VELMORIX_TRACED_INSTALLER"));
  HWND progress = InstallThroughTheWizard(installDir_, workDir_, false);
  ASSERT_NE(progress, nullptr);
  const std::string program = installDir_ + "\\Velmorix.exe";
  ASSERT_TRUE(driver::WaitFor([&] { return driver::FileExists(installDir_ + "\\workpath"); }, 30000));
  std::vector<unsigned char> programBytes;
  ASSERT_TRUE(driver::ReadWholeFile(program, &programBytes));
  ASSERT_TRUE(driver::CreateFolders(destination.substr(0, destination.rfind('\\'))));
  ASSERT_TRUE(CreateHardLinkA(destination.c_str(), program.c_str(), nullptr));
  HWND box = Installer().WaitForMessageBox(30000);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(driver::MessageBoxText(box), "Невозможно создать файл(ы) установки, возможно нет прав");
  ASSERT_TRUE(DismissFailure(box, progress));
  std::vector<unsigned char> planted;
  ASSERT_TRUE(driver::ReadWholeFile(destination, &planted));
  EXPECT_TRUE(planted == programBytes) << "the program was emptied through its second name";
  CloseFailedRun(progress);
}

}  // namespace
}  // namespace e2e
