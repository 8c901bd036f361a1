// Whole installations through the wizard: success, run without installing, cancel,
// a failure after unpacking, and the access lists the work folders get.
#include <algorithm>
#include <string>
#include <vector>

#include "resource_ids.h"
#include "e2e/e2e_fixture.h"
#include "engine/archive_reader.h"
#include "engine/payload_archive.h"

namespace e2e {
namespace {


constexpr int kButton = IDC_PROGRESS_BUTTON, kRunProgram = IDC_PROGRESS_RUN_PROGRAM;

using ProgressPageTest = InstallerTest;

TEST_F(ProgressPageTest, DefaultInstallationWithBothShortcutsStartsTheProgram) {
  const std::string installDir = DefaultFolder("PROGRAMFILES");
  const std::string workDir = DefaultFolder("ALLUSERSPROFILE");
  // The installer that ships records no access lists, whatever its environment says.
  const std::string trace = std::string(kScratch) + "\\access-trace.txt";
  ASSERT_TRUE(driver::CreateFolders(kScratch));
  driver::ScopedEnvironment traceVariable("VELMORIX_ACCESS_TRACE", trace);
  Start();
  HWND progress = InstallThroughTheWizard();
  ASSERT_NE(progress, nullptr);
  ASSERT_TRUE(driver::WaitForControlText(progress, kButton, "Готово")) << ControlText(progress, kButton);
  EXPECT_TRUE(driver::IsControlChecked(progress, kRunProgram));

  ExpectInstalled(installDir, workDir);
  EXPECT_FALSE(driver::FileExists(trace));

  ASSERT_TRUE(Click(progress, kButton));
  ExpectExitZero();
  EXPECT_TRUE(ForeignWindowCameAndClosed(kSampleAppClass)) << "the installed program";
}

TEST_F(ProgressPageTest, NoShortcutsWhenBothAreUnticked) {
  const std::string installDir = std::string(kScratch) + "\\plain\\program";
  Start();
  HWND progress = InstallThroughTheWizard(installDir, std::string(kScratch) + "\\plain\\work", false);
  ASSERT_NE(progress, nullptr);
  ASSERT_TRUE(driver::WaitForControlText(progress, kButton, "Готово")) << ControlText(progress, kButton);
  EXPECT_FALSE(driver::FileExists(DesktopShortcut()));
  EXPECT_FALSE(driver::FileExists(StartMenuShortcut()));
  std::string location;
  ASSERT_TRUE(driver::ReadUninstallValue("InstallLocation", &location));
  EXPECT_EQ(location, installDir);
  UntickRunProgram(progress);
  ASSERT_TRUE(Click(progress, kButton));
  ExpectExitZero();
  EXPECT_EQ(driver::FindForeignWindow(kSampleAppClass, Installer().ProcessId()), nullptr);
}

// Without a desktop shell there is no user's token to start the program with: it is
// not started with the installer's rights, and the page reports the failed start.
TEST_F(ProgressPageTest, WithoutADesktopShellTheProgramIsNotStartedAndTheFailureIsShown) {
  EndDesktopShell();
  Start();
  HWND progress = InstallThroughTheWizard(std::string(kScratch) + "\\noshell\\program",
                                          std::string(kScratch) + "\\noshell\\work", false);
  ASSERT_NE(progress, nullptr);
  ASSERT_TRUE(driver::WaitForControlText(progress, kButton, "Готово")) << ControlText(progress, kButton);
  ASSERT_TRUE(driver::IsControlChecked(progress, kRunProgram));
  ASSERT_TRUE(Click(progress, kButton));
  HWND box = Installer().WaitForMessageBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(driver::MessageBoxText(box), "The system is out of memory or resources.");
  EXPECT_EQ(driver::WindowText(box), "Не удалось запустить Velmorix.exe");
  ASSERT_TRUE(driver::PressMessageBoxButton(box, IDOK));
  ExpectExitZero();
  EXPECT_EQ(driver::FindForeignWindow(kSampleAppClass, Installer().ProcessId()), nullptr);
}

TEST_F(ProgressPageTest, RunWithoutInstallingUnpacksToTempAndStartsTheProgram) {
  const std::string folder = driver::EnvironmentValue("TEMP") + "\\Tarkweller\\Velmorix_Temp";
  ASSERT_NE(StartAndChoose(IDC_MODE_RUN), nullptr);
  ExpectExitZero();  // no click: the page finishes by itself
  EXPECT_TRUE(ForeignWindowCameAndClosed(kSampleAppClass));
  EXPECT_TRUE(PayloadUnpacked("program.bin", folder));
  EXPECT_TRUE(PayloadUnpacked("work.bin", folder));
  std::string location;
  EXPECT_FALSE(driver::ReadUninstallValue("InstallLocation", &location)) << "run mode writes no registry";
}

// One flipped byte in the middle of a file's data: every structural check passes,
// the checksum of resource 111 does not, and nothing is unpacked or started.
TEST_F(ProgressPageTest, APayloadDamagedInTransitIsRefusedBeforeAnythingIsWritten) {
  std::vector<unsigned char> program;
  ASSERT_TRUE(driver::ReadWholeFile(driver::PayloadDir() + "\\program.bin", &program));
  ArchiveView view;
  ASSERT_EQ(ValidateArchive(program.data(), program.size(), &view), ArchiveError::None);
  std::size_t offset = view.dataOffset;
  for (std::int32_t i = 0; i < view.count / 2; ++i) offset += static_cast<std::size_t>(ReadPayloadEntry(view, i).size);
  offset += static_cast<std::size_t>(ReadPayloadEntry(view, view.count / 2).size / 2);
  program[offset] ^= 0x01;
  ASSERT_EQ(ValidateArchive(program.data(), program.size(), nullptr), ArchiveError::None);
  const std::string installer = CopyInstallerWithProgramArchive(std::string(kScratch) + "\\damaged", program, false);
  ASSERT_FALSE(installer.empty());

  const std::string folder = driver::EnvironmentValue("TEMP") + "\\Tarkweller\\Velmorix_Temp";
  ASSERT_NE(StartAndChoose(IDC_MODE_RUN, installer), nullptr);
  HWND box = Installer().WaitForMessageBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(driver::WindowText(box), "Ошибка");
  EXPECT_EQ(driver::MessageBoxText(box), "Невозможно подгрузить файл ресурсов");
  EXPECT_TRUE(driver::FilesUnder(folder).empty());
  ASSERT_TRUE(driver::PressMessageBoxButton(box, IDOK));
  HWND progress = Installer().WaitForPage(Page::Progress);
  ASSERT_NE(progress, nullptr);
  ASSERT_TRUE(driver::WaitForControlText(progress, kButton, "Закрыть"));
  ASSERT_TRUE(Click(progress, kButton));
  ExpectExitZero();
  EXPECT_TRUE(driver::FilesUnder(folder).empty());
  EXPECT_EQ(driver::FindForeignWindow(kSampleAppClass, Installer().ProcessId()), nullptr);
}

TEST_F(ProgressPageTest, CancelAnsweredNoGoesOnAndYesDeletesEverythingWritten) {
  // The test build, held 150 ms after each file: the run is still writing when the
  // button is clicked, however fast the disk.
  const std::string installer = MakeInstallerWithBigPayload(std::string(kScratch) + "\\big", 40, 512 * 1024,
                                                            driver::EnvironmentValue("VELMORIX_TRACED_INSTALLER"));
  ASSERT_FALSE(installer.empty());
  driver::ScopedEnvironment pace("VELMORIX_FILE_PAUSE_MS", "150");
  const std::string installDir = std::string(kScratch) + "\\cancel\\program";
  const std::string workDir = std::string(kScratch) + "\\cancel\\work";
  Start(installer);
  HWND progress = InstallThroughTheWizard(installDir, workDir, false);
  ASSERT_NE(progress, nullptr);
  ASSERT_TRUE(driver::WaitFor([&] { return !driver::FilesUnder(installDir).empty(); }));

  ASSERT_TRUE(Click(progress, kButton));
  HWND question = Installer().WaitForMessageBox();
  ASSERT_NE(question, nullptr);
  EXPECT_EQ(driver::MessageBoxText(question), "Вы действительно хотите отменить распаковку?");
  EXPECT_EQ(driver::WindowText(question), "Установка Velmorix");
  const std::size_t filesBefore = driver::FilesUnder(installDir).size();
  ASSERT_TRUE(driver::PressMessageBoxButton(question, IDNO));
  ASSERT_TRUE(driver::WaitFor([&] { return driver::FilesUnder(installDir).size() > filesBefore; }))
      << "unpacking did not go on after No";

  ASSERT_TRUE(Click(progress, kButton));
  question = Installer().WaitForMessageBox();
  ASSERT_NE(question, nullptr);
  ASSERT_TRUE(driver::PressMessageBoxButton(question, IDYES));
  DWORD exitCode = 99;
  bool errorBoxSeen = false;
  ASSERT_TRUE(driver::WaitFor([&] {
    if (HWND box = Installer().FindMessageBox()) errorBoxSeen = errorBoxSeen || box != question;
    return Installer().WaitForExit(0, &exitCode);
  }));
  EXPECT_EQ(exitCode, 0u);
  EXPECT_FALSE(errorBoxSeen);
  EXPECT_TRUE(driver::FilesUnder(installDir).empty());
  EXPECT_TRUE(driver::FilesUnder(workDir).empty());
}

// A folder standing where the desktop shortcut goes makes that step fail after both
// archives were unpacked.
TEST_F(ProgressPageTest, FailureAfterUnpackingIsShownAndTheFilesAreDeleted) {
  const std::string installDir = std::string(kScratch) + "\\fail\\program";
  const std::string workDir = std::string(kScratch) + "\\fail\\work";
  HWND progress = nullptr;
  HWND box = InstallFailingAtTheDesktopShortcut(installDir, workDir, &progress);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(driver::WindowText(box), "Ошибка");
  EXPECT_EQ(driver::MessageBoxText(box), "Невозможно создать ярлык на рабочем столе");
  ASSERT_TRUE(driver::PressMessageBoxButton(box, IDOK));
  ASSERT_TRUE(driver::WaitForControlText(progress, kButton, "Закрыть"));
  // The workpath file goes like the unpacked files, and so do the Start-menu shortcut
  // and the uninstall entry written after the failed step.
  ASSERT_TRUE(driver::WaitFor([&] { return driver::FilesUnder(workDir).empty() && driver::FilesUnder(installDir).empty(); }))
      << driver::FilesUnder(installDir).size() << " files left";
  EXPECT_FALSE(driver::FileExists(StartMenuShortcut()));
  std::string location;
  EXPECT_FALSE(driver::ReadUninstallValue("InstallLocation", &location)) << location;
  ASSERT_TRUE(Click(progress, kButton));
  ExpectExitZero();
  EXPECT_EQ(driver::FindForeignWindow(kSampleAppClass, Installer().ProcessId()), nullptr);
}

// /LOG beside the wizard: the run's steps, the failure with its cause, and the end.
TEST_F(ProgressPageTest, LogOfAWizardRunHasItsStepsItsFailureAndItsEnd) {
  ASSERT_TRUE(driver::CreateFolders(kScratch));
  const std::string log = std::string(kScratch) + "\\wizard.log";
  const std::string installDir = std::string(kScratch) + "\\logged\\program";
  const std::string workDir = std::string(kScratch) + "\\logged\\work";
  HWND progress = nullptr;
  HWND box = InstallFailingAtTheDesktopShortcut(installDir, workDir, &progress, "/log=" + log);
  ASSERT_NE(box, nullptr);
  ASSERT_TRUE(driver::PressMessageBoxButton(box, IDOK));
  ASSERT_TRUE(driver::WaitForControlText(progress, kButton, "Закрыть"));
  ASSERT_TRUE(Click(progress, kButton));
  ExpectExitZero();

  const std::vector<std::string> lines = LogLines(log);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().rfind("start: Velmorix setup ", 0), 0u) << lines.front();
  EXPECT_NE(lines.front().find(", wizard, command line: "), std::string::npos) << lines.front();
  EXPECT_TRUE(HasLine(lines, "folder created: " + installDir));
  EXPECT_TRUE(HasLine(lines, "install: install folder " + installDir + ", work folder " + workDir +
                                 ", desktop shortcut yes, Start menu shortcut yes"));
  EXPECT_TRUE(HasLine(lines, "workpath written: " + installDir + "\\workpath"));
  // The sentence the box showed, with the shortcut's path and the system's code.
  EXPECT_TRUE(HasLine(lines, u8"failed: Невозможно создать ярлык на рабочем столе; cause: desktop-shortcut-failed; path: " +
                                 DesktopShortcut() +
                                 "; system error 0x80070005"));
  EXPECT_TRUE(HasLine(lines, "run finished: failed"));
  // The undo's steps outside the files, after the end.
  EXPECT_TRUE(HasLine(lines, "file type association removed: .qzp"));
  EXPECT_TRUE(HasLine(lines, "uninstall entry removed: HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmorix"));
  EXPECT_TRUE(HasLine(lines, "shortcut removed: " + StartMenuShortcut()));
  EXPECT_EQ(lines.back(), "exit status 0 (wizard closed)");
}

// A close from outside (the taskbar) while the failure box is open must not end the
// process before the unpacked files are deleted.
TEST_F(ProgressPageTest, ACloseWhileTheFailureIsShownWaitsUntilTheFilesAreDeleted) {
  const std::string installDir = std::string(kScratch) + "\\closing\\program";
  const std::string workDir = std::string(kScratch) + "\\closing\\work";
  HWND progress = nullptr;
  HWND box = InstallFailingAtTheDesktopShortcut(installDir, workDir, &progress);
  ASSERT_NE(box, nullptr);
  ASSERT_FALSE(driver::FilesUnder(workDir).empty());
  ASSERT_TRUE(PostMessageA(progress, WM_CLOSE, 0, 0));
  // The close waits for the box: the process and its files are still there.
  EXPECT_FALSE(driver::WaitFor([&] { return !Installer().Running(); }, 1000));
  EXPECT_FALSE(driver::FilesUnder(workDir).empty());
  ASSERT_TRUE(driver::PressMessageBoxButton(box, IDOK));
  ExpectExitZero();
  EXPECT_TRUE(driver::FilesUnder(workDir).empty());
  EXPECT_EQ(driver::FilesUnder(installDir), std::vector<std::string>{});
}

std::string Normalised(std::string folder) {
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  if (!folder.empty()) CharUpperBuffA(&folder[0], static_cast<DWORD>(folder.size()));
  return folder;
}

bool GrantsUsers(const std::string& sddl) {
  return sddl.find("S-1-5-32-545") != std::string::npos || sddl.find(";BU)") != std::string::npos;
}

TEST_F(ProgressPageTest, EveryWorkFolderGetsUsersAccessAndNoProgramFolderDoes) {
  const std::string installDir = std::string(kScratch) + "\\acl\\program";
  const std::string workDir = std::string(kScratch) + "\\acl\\work";
  const std::string trace = std::string(kScratch) + "\\access-trace.txt";
  ASSERT_TRUE(driver::CreateFolders(kScratch));
  driver::ScopedEnvironment traceVariable("VELMORIX_ACCESS_TRACE", trace);
  // The test build of the installer: the same code, recording every applied list.
  Start(driver::EnvironmentValue("VELMORIX_TRACED_INSTALLER"));
  HWND progress = InstallThroughTheWizard(installDir, workDir, false);
  ASSERT_NE(progress, nullptr);
  ASSERT_TRUE(driver::WaitForControlText(progress, kButton, "Готово"));
  std::vector<std::string> workFolders;
  ASSERT_TRUE(PayloadUnpacked("work.bin", workDir, &workFolders));
  UntickRunProgram(progress);
  ASSERT_TRUE(Click(progress, kButton));
  ExpectExitZero();

  std::vector<unsigned char> bytes;
  ASSERT_TRUE(driver::ReadWholeFile(trace, &bytes));
  std::vector<std::pair<std::string, std::string>> lines;  // folder, SDDL
  std::string text(bytes.begin(), bytes.end());
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t tab = line.find('\t');
    if (tab != std::string::npos) lines.emplace_back(Normalised(line.substr(0, tab)), line.substr(tab + 1));
    at = end + 1;
  }
  // Every folder from the work folder down to each entry's folder was created here.
  std::vector<std::string> expected;
  for (const std::string& folder : workFolders) {
    for (std::string f = folder; f.size() >= workDir.size(); f = f.substr(0, f.rfind('\\'))) {
      expected.push_back(Normalised(f));
    }
  }
  std::sort(expected.begin(), expected.end());
  expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
  ASSERT_FALSE(expected.empty());
  for (const std::string& folder : expected) {
    const bool granted = std::any_of(lines.begin(), lines.end(), [&](const auto& line) {
      return line.first == folder && GrantsUsers(line.second);
    });
    EXPECT_TRUE(granted) << folder;
  }
  const std::string programPrefix = Normalised(installDir);
  for (const auto& line : lines) {
    EXPECT_NE(line.first.rfind(programPrefix, 0), 0u) << "access list applied to " << line.first;
  }
}

}  // namespace
}  // namespace e2e
