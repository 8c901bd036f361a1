// An installation and its removal, each the way a user or a deployment tool starts
// it, checked on the whole machine: after the removal the machine is as it was before
// the installation, but for what the user changed and asked to keep.
#include <objbase.h>

#include <functional>
#include <string>
#include <vector>

#include "e2e/e2e_fixture.h"
#include "e2e/machine_snapshot.h"
#include "engine/archive_reader.h"
#include "engine/payload_archive.h"
#include "support/payload_archive.h"
#include "integration/shortcuts.h"
#include "resource_ids.h"
#include "shared/texts.h"
#include "support/registry.h"
#include "support/test_files.h"

namespace e2e {
namespace {

constexpr DWORD kRunTimeoutMs = 60000;
constexpr char kClassesKey[] = "HKLM\\Software\\Classes\\";

std::string ClassValuePath(const char* key) { return std::string(kClassesKey) + key + " : "; }

std::string DefaultClassValue(const char* key) {
  const StoredValue value = ReadStoredValue(HKEY_CLASSES_ROOT, key, "", KEY_WOW64_64KEY);
  return value.present ? std::string(value.bytes.c_str()) : std::string();
}

class LifecycleTest : public InstallerTest {
 protected:
  void SetUp() override {
    InstallerTest::SetUp();
    clean_ = TakeMachineSnapshot();
  }
  void TearDown() override {
    uninstaller_.reset();
    DeleteKeyTree(HKEY_CLASSES_ROOT, "", ".qzp", KEY_WOW64_64KEY);
    InstallerTest::TearDown();
  }

  // An installation into the default folders, unattended or through the wizard (the
  // program not started at its end); false unless it ends with 0.
  bool Install(bool throughTheWizard = false, const std::string& installer = driver::InstallerPath()) {
    DWORD exitCode = 99;
    if (!throughTheWizard) return Start(installer, "/S").WaitForExit(kRunTimeoutMs, &exitCode) && exitCode == 0;
    Start(installer);
    HWND progress = InstallThroughTheWizard();
    if (progress == nullptr || !driver::WaitForControlText(progress, IDC_PROGRESS_BUTTON, "Готово", kRunTimeoutMs))
      return false;
    UntickRunProgram(progress);
    return driver::Click(progress, IDC_PROGRESS_BUTTON) && Installer().WaitForExit(kRunTimeoutMs, &exitCode) &&
           exitCode == 0;
  }

  // The step most cases share: the installation (and all it leaves), `act` on it,
  // which removes it (and may name in allowed_ what stays), then nothing differs from
  // `clean_` but those. The removal's own uninstaller, which ran it, waits in a keep
  // folder at the root of C: for the restart, until Wine's restart takes it.
  void InstallActAndCompare(const std::function<void()>& act, bool throughTheWizard = false,
                            const std::string& installer = driver::InstallerPath()) {
    allowed_.clear();
    ASSERT_TRUE(Install(throughTheWizard, installer));
    if (installer == driver::InstallerPath()) ExpectInstalled(InstallDir(), WorkDir());
    act();
    if (HasFatalFailure()) return;
    std::vector<std::string> untilRestart = allowed_;
    untilRestart.push_back("C:\\~VelmorixKeep.");
    EXPECT_TRUE(SameMachine(clean_, TakeMachineSnapshot(), untilRestart));
    driver::InstallerProcess restart("wineboot");
    DWORD exitCode = 99;
    ASSERT_TRUE(restart.StartCommandLine("wineboot.exe -r") && restart.WaitForExit(kRunTimeoutMs, &exitCode));
    EXPECT_TRUE(SameMachine(clean_, TakeMachineSnapshot(), allowed_));
  }

  static std::string InstallDir() {
    std::string location;
    driver::ReadUninstallValue("InstallLocation", &location);
    return location;
  }
  static std::string WorkDir() {
    std::vector<unsigned char> workpath;
    driver::ReadWholeFile(InstallDir() + "\\workpath", &workpath);
    return std::string(workpath.begin(), workpath.end());
  }
  static std::string QuietUninstallString() {
    std::string quiet;
    EXPECT_TRUE(driver::ReadUninstallValue("QuietUninstallString", &quiet));
    return quiet;
  }

  // The program changes the work folder's first file and the user adds `added` below
  // it; the changed file's path, empty when either fails.
  static std::string ChangeTheWorkFolder(const std::string& added) {
    const std::vector<std::string> files = driver::FilesUnder(WorkDir());
    const bool done = !files.empty() && driver::WriteWholeFile(files.front(), "changed by the program") &&
                      driver::CreateFolders(added.substr(0, added.rfind('\\'))) &&
                      driver::WriteWholeFile(added, "the user's");
    return done ? files.front() : std::string();
  }

  // Runs `commandLine` as a deployment tool would and waits for its end (every
  // Uninstall.exe process gone); its exit status, 99 when it did not end.
  DWORD RunRemoval(const std::string& commandLine) {
    uninstaller_ = std::make_unique<driver::InstallerProcess>("uninstall");
    DWORD exitCode = 99;
    if (!uninstaller_->StartCommandLine(commandLine) || !uninstaller_->WaitForExit(kRunTimeoutMs, &exitCode))
      return 99;
    EXPECT_TRUE(driver::WaitForNoProcessNamed("Uninstall.exe"));
    return exitCode;
  }

  // The uninstaller's dialog, found by its controls: Remove, the result shown, closed;
  // waits until every Uninstall.exe has ended.
  void RemoveThroughTheDialog() {
    HWND dialog = driver::WaitForDialogWithControl(IDC_UNINSTALL_REMOVE_DATA, kRunTimeoutMs);
    ASSERT_NE(dialog, nullptr) << "the uninstaller's dialog did not appear";
    EXPECT_EQ(driver::WindowText(dialog), texts::kUninstallTitle);
    EXPECT_NE(driver::ControlText(dialog, IDC_UNINSTALL_SUMMARY).find(InstallDir()), std::string::npos);
    ASSERT_TRUE(driver::Click(dialog, IDC_UNINSTALL_REMOVE));
    ASSERT_TRUE(driver::WaitForControlText(dialog, IDC_UNINSTALL_CANCEL, texts::kCloseButton, kRunTimeoutMs));
    EXPECT_EQ(driver::ControlText(dialog, IDC_UNINSTALL_SUMMARY), texts::kUninstallDone);
    ASSERT_TRUE(driver::Click(dialog, IDC_UNINSTALL_CANCEL));
    EXPECT_TRUE(driver::WaitFor([&] { return !IsWindow(dialog); }));
    EXPECT_TRUE(driver::WaitForNoProcessNamed("Uninstall.exe", kRunTimeoutMs));
  }

  MachineSnapshot clean_;
  std::vector<std::string> allowed_;
  std::unique_ptr<driver::InstallerProcess> uninstaller_;
};

// Each way a removal is started leaves the machine as before the installation: Remove
// on the mode page of the installer started again on a wizard's installation (the
// installer ends at once, not when the uninstaller does); Wine's own list of programs,
// which runs UninstallString and waits for it; and a deployment tool running the
// QuietUninstallString with /REMOVEDATA, which takes the work folder's changed and
// added files too.
TEST_F(LifecycleTest, EachWayOfStartingARemovalLeavesTheMachineAsBefore) {
  struct Way { const char* name; bool throughTheWizard; std::function<void()> remove; };
  const Way ways[] = {
      {"the mode page", true,
       [&] {
         Start();
         HWND mode = Installer().WaitForPage(driver::Page::Mode);
         ASSERT_NE(mode, nullptr);
         ASSERT_TRUE(driver::IsControlEnabled(mode, IDC_MODE_REMOVE));
         ASSERT_TRUE(driver::Click(mode, IDC_MODE_REMOVE));
         ASSERT_TRUE(driver::Click(mode, IDC_MODE_NEXT));
         ExpectExitZero();
         RemoveThroughTheDialog();
       }},
      {"Wine's uninstaller", false,
       [&] {
         driver::InstallerProcess wineUninstaller("wine-uninstaller");
         ASSERT_TRUE(wineUninstaller.StartCommandLine("uninstaller.exe --remove Velmorix"));
         RemoveThroughTheDialog();
         DWORD exitCode = 99;
         EXPECT_TRUE(wineUninstaller.WaitForExit(kRunTimeoutMs, &exitCode));
       }},
      {"QuietUninstallString /REMOVEDATA", false,
       [&] {
         ASSERT_FALSE(ChangeTheWorkFolder(WorkDir() + "\\mine\\deeper\\notes.txt").empty());
         EXPECT_EQ(RunRemoval(QuietUninstallString() + " /REMOVEDATA"), 0u);
       }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    InstallActAndCompare(way.remove, way.throughTheWizard);
    if (HasFatalFailure()) return;
  }
}

// What the user or another program made of the installation after it stays theirs:
// a changed and a new work-folder file, a shortcut pointed elsewhere, the .qzp class
// taken over by another program (and not given back what the installation replaced).
TEST_F(LifecycleTest, WhatOthersChangedSinceTheInstallationStays) {
  ASSERT_TRUE(WriteStringValue(HKEY_CLASSES_ROOT, ".qzp", "", "Earlier.qzp", KEY_WOW64_64KEY));
  clean_ = TakeMachineSnapshot();
  InstallActAndCompare([&] {
    ASSERT_EQ(DefaultClassValue(".qzp"), "VELMORIX.qzp");
    const std::string added = WorkDir() + "\\mine\\notes.txt";
    const std::string changed = ChangeTheWorkFolder(added);
    ASSERT_FALSE(changed.empty());
    {
      const ComApartment com(CoInitialize(nullptr));
      const std::string shortcut = DesktopShortcut();
      const std::wstring link(shortcut.begin(), shortcut.end());
      ASSERT_EQ(CreateShellShortcut(link.c_str(), "C:\\windows\\notepad.exe", "C:\\windows", "C:\\windows\\notepad.exe"),
                S_OK);
    }
    ASSERT_TRUE(WriteStringValue(HKEY_CLASSES_ROOT, ".qzp", "", "Other.qzp", KEY_WOW64_64KEY));
    const MachineSnapshot changedByOthers = TakeMachineSnapshot();

    EXPECT_EQ(RunRemoval(QuietUninstallString()), 0u);

    // Exactly these remain, as the others left them; their folders stand.
    const std::string left[] = {changed, added, DesktopShortcut(), ClassValuePath(".qzp")};
    const MachineSnapshot removed = TakeMachineSnapshot();
    for (const std::string& path : left) {
      ASSERT_EQ(removed.entries.count(path), 1u) << path;
      EXPECT_EQ(removed.entries.at(path), changedByOthers.entries.at(path)) << path;
    }
    allowed_.assign(std::begin(left), std::end(left));
    for (std::string folder = added; folder.rfind('\\') > 2;) {
      folder.resize(folder.rfind('\\'));
      allowed_.push_back(folder + "\\");
    }
  });
}

// A program file that cannot be moved (held open without delete sharing): the removal
// ends with 1 and puts back everything it had moved; the record stays, so a later
// removal still takes it all, even with the program running: its file cannot be
// deleted, so that removal ends with 3010 and the restart takes the file.
TEST_F(LifecycleTest, AFileThatCannotGoRestoresEverythingAndARunningProgramGoesAtTheRestart) {
  InstallActAndCompare([&] {
    const MachineSnapshot installed = TakeMachineSnapshot();
    const std::string installDir = InstallDir();
    const std::vector<std::string> programFiles = driver::FilesUnder(installDir);
    ASSERT_GE(programFiles.size(), 3u);
    {
      // Not the first file: some are moved aside before the failure.
      const UniqueHandle held(CreateFileA(programFiles[programFiles.size() / 2].c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(held);
      EXPECT_EQ(RunRemoval(QuietUninstallString()), 1u);
      EXPECT_TRUE(SameMachine(installed, TakeMachineSnapshot()));
    }
    driver::InstallerProcess program("program");
    ASSERT_TRUE(program.Start(installDir + "\\Velmorix.exe"));
    HWND window = driver::WaitForForeignWindow(kSampleAppClass, 0);
    ASSERT_NE(window, nullptr);

    EXPECT_EQ(RunRemoval(QuietUninstallString()), 3010u);

    EXPECT_FALSE(driver::FolderExists(installDir));
    EXPECT_TRUE(driver::CloseForeignWindow(window));
  });
}

// A kept file in a removal's keep folder at the root of C: (not the uninstaller's copy).
bool SomeFileKept() {
  WIN32_FIND_DATAA kept;
  for (const std::string& keep : testsupport::KeepFoldersOnC())
    if (UniqueFind(FindFirstFileA((keep + "\\~VelmorixGone.*").c_str(), &kept))) return true;
  return false;
}

// A removal killed once its first files are aside (the program archive made long with
// many small files ahead of the real ones): the next run puts them back and removes
// the whole installation.
TEST_F(LifecycleTest, ARemovalKilledMidwayIsFinishedByTheNextRun) {
  std::vector<unsigned char> program;
  ArchiveView view;
  ASSERT_TRUE(driver::ReadWholeFile(driver::PayloadDir() + "\\program.bin", &program));
  ASSERT_EQ(ValidateArchive(program.data(), program.size(), &view), ArchiveError::None);
  std::vector<testsupport::ArchiveFile> files;
  for (int i = 0; i < 900; ++i) files.push_back({"Z:\\many\\file" + std::to_string(i), "\\many\\", "x"});
  std::size_t offset = view.dataOffset;
  for (std::int32_t i = 0; i < view.count; ++i) {
    const PayloadEntry entry = ReadPayloadEntry(view, i);
    const auto size = static_cast<std::size_t>(entry.size);
    files.push_back({entry.sourcePath, entry.relativeFolder,
                     std::string(reinterpret_cast<const char*>(program.data()) + offset, size)});
    offset += size;
  }
  const std::string installer =
      CopyInstallerWithProgramArchive(std::string(kScratch) + "\\long", testsupport::PayloadArchive(files), true);
  ASSERT_FALSE(installer.empty());
  InstallActAndCompare(
      [&] {
        const std::string quiet = QuietUninstallString();
        uninstaller_ = std::make_unique<driver::InstallerProcess>("uninstall");
        ASSERT_TRUE(uninstaller_->StartCommandLine(quiet));
        ASSERT_TRUE(driver::WaitFor(SomeFileKept, kRunTimeoutMs, 1));
        EXPECT_EQ(driver::KillProcessesNamed("Uninstall.exe"), 2);
        const std::size_t left = driver::FilesUnder(InstallDir() + "\\many").size();
        EXPECT_GT(left, 0u) << "the removal ended before it was killed";
        EXPECT_LT(left, 900u) << "killed before a file was moved";

        EXPECT_EQ(RunRemoval(quiet), 0u);
      },
      false, installer);
}

// An installation into the default folders that fails (a folder stands where the
// desktop shortcut goes: the step fails after both archives, and the steps after it
// run), one cancelled while it writes, and one killed while it writes and recovered
// by the next start: each leaves the machine as it found it, shortcuts, uninstall
// entry, association, record and workpath file included.
TEST_F(LifecycleTest, AFailedACancelledAndAKilledInstallationEachLeaveTheMachineAsItWas) {
  ASSERT_TRUE(driver::CreateFolders(DesktopShortcut()));
  const MachineSnapshot withFolder = TakeMachineSnapshot();
  Start();
  HWND progress = InstallThroughTheWizard();
  ASSERT_NE(progress, nullptr);
  HWND box = Installer().WaitForMessageBox(kRunTimeoutMs);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(driver::MessageBoxText(box), "Невозможно создать ярлык на рабочем столе");
  ASSERT_TRUE(driver::PressMessageBoxButton(box, IDOK));
  ASSERT_TRUE(driver::WaitForControlText(progress, IDC_PROGRESS_BUTTON, texts::kCloseButton, kRunTimeoutMs));
  ASSERT_TRUE(driver::Click(progress, IDC_PROGRESS_BUTTON));
  ExpectExitZero();
  EXPECT_TRUE(SameMachine(withFolder, TakeMachineSnapshot())) << "after the failed installation";
  driver::DeleteTree(DesktopShortcut());

  // The test build, held after each file, so that the run is still writing.
  const std::string slow = MakeInstallerWithBigPayload(std::string(kScratch) + "\\big", 20, 256 * 1024,
                                                       driver::EnvironmentValue("VELMORIX_TRACED_INSTALLER"));
  ASSERT_FALSE(slow.empty());
  const std::string installDir = DefaultFolder("PROGRAMFILES");
  {
    driver::ScopedEnvironment pace("VELMORIX_FILE_PAUSE_MS", "150");
    Start(slow);
    progress = InstallThroughTheWizard();
    ASSERT_NE(progress, nullptr);
    ASSERT_TRUE(driver::WaitFor([&] { return !driver::FilesUnder(installDir).empty(); }));
    ASSERT_TRUE(driver::Click(progress, IDC_PROGRESS_BUTTON));
    HWND question = Installer().WaitForMessageBox();
    ASSERT_NE(question, nullptr);
    ASSERT_TRUE(driver::PressMessageBoxButton(question, IDYES));
    DWORD exitCode = 99;
    ASSERT_TRUE(Installer().WaitForExit(kRunTimeoutMs, &exitCode));
    EXPECT_EQ(exitCode, 0u);
  }
  EXPECT_TRUE(SameMachine(clean_, TakeMachineSnapshot())) << "after the cancelled installation";

  {
    driver::ScopedEnvironment pace("VELMORIX_FILE_PAUSE_MS", "150");
    Start(slow);
    ASSERT_NE(InstallThroughTheWizard(), nullptr);
    ASSERT_TRUE(driver::WaitFor([&] { return driver::FilesUnder(installDir).size() >= 2; }));
    ASSERT_TRUE(Installer().Kill());
  }
  EXPECT_FALSE(SameMachine(clean_, TakeMachineSnapshot())) << "the kill left nothing to recover";
  Start();
  HWND mode = Installer().WaitForPage(driver::Page::Mode);
  ASSERT_NE(mode, nullptr);
  ASSERT_TRUE(driver::Click(mode, IDC_MODE_CANCEL));
  ExpectExitZero();
  EXPECT_TRUE(SameMachine(clean_, TakeMachineSnapshot())) << "after the killed installation's recovery";
}

}  // namespace
}  // namespace e2e
