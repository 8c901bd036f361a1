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
#include "windows/engine_test_support.h"

namespace e2e {
namespace {

using driver::Click;
using driver::Page;
using Snapshot = std::map<std::string, std::vector<unsigned char>>;

constexpr int kButton = IDC_PROGRESS_BUTTON;
constexpr int kModeRepair = IDC_MODE_REPAIR, kModeNext = IDC_MODE_NEXT, kSettingsNext = IDC_SETTINGS_NEXT;
// Where a run keeps the earlier files it replaces, inside each destination folder.
constexpr char kKeepFolder[] = "\\~vxkeep";

class RunSafetyTest : public InstallerTest {
 protected:
  void SetUp() override {
    InstallerTest::SetUp();
    ASSERT_TRUE(driver::CreateFolders(kScratch));
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
    Start(driver::EnvironmentValue("VELMORIX_TRACED_INSTALLER"));
    HWND mode = Installer().WaitForPage(Page::Mode);
    if (!mode || !Click(mode, kModeRepair) || !Click(mode, kModeNext)) return nullptr;
    HWND settings = Installer().WaitForPage(Page::Settings);
    if (!settings || !Click(settings, kSettingsNext)) return nullptr;
    return Installer().WaitForPage(Page::Progress);
  }

  // An installation into this test's folders with both shortcuts whose last step fails:
  // a folder stands where the desktop shortcut goes. Returns the page and its box.
  void InstallFailingAtTheDesktopShortcut(HWND* progress, HWND* box) {
    ASSERT_TRUE(driver::CreateFolders(DesktopShortcut()));
    Start();
    *progress = InstallThroughTheWizard(installDir_, workDir_, true);
    ASSERT_NE(*progress, nullptr);
    *box = Installer().WaitForMessageBox();
    ASSERT_NE(*box, nullptr);
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

  // Waits until the run has moved `count` earlier files of `folder` aside.
  static bool WaitUntilKept(const std::string& folder, std::size_t count) {
    return driver::WaitFor([&] { return driver::FilesUnder(folder + kKeepFolder).size() >= count; }, 30000);
  }

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
  HWND box = nullptr;
  ASSERT_NO_FATAL_FAILURE(InstallFailingAtTheDesktopShortcut(&progress, &box));
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
  Start();
  HWND progress = InstallThroughTheWizard(installDir, workDir, false);
  ASSERT_NE(progress, nullptr);
  HWND box = Installer().WaitForMessageBox();
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
  // The program files are gone again; the workpath file of a first run stays.
  EXPECT_EQ(driver::FilesUnder(installDir_), std::vector<std::string>{installDir_ + "\\workpath"});
  EXPECT_TRUE(enginetest::RemoveLink(workDir_ + "\\workdir"));
  CloseFailedRun(progress);
}

TEST_F(RunSafetyTest, ALinkRepointedBeforeTheCleanUpLeadsItToNothingOutside) {
  HWND progress = nullptr;
  HWND box = nullptr;
  ASSERT_NO_FATAL_FAILURE(InstallFailingAtTheDesktopShortcut(&progress, &box));
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

}  // namespace
}  // namespace e2e
