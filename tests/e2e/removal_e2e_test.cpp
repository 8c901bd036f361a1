// An installation and its removal, each the way a user or a deployment tool starts
// it, checked on the whole machine: after the removal the machine is as it was before
// the installation, but for what the user changed and asked to keep.
#include <objbase.h>

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

namespace e2e {
namespace {

constexpr DWORD kRunTimeoutMs = 60000;
constexpr char kClassesKey[] = "HKLM\\Software\\Classes\\";

std::string ClassValuePath(const char* key) { return std::string(kClassesKey) + key + " : "; }

std::string DefaultClassValue(const char* key) {
  const StoredValue value = ReadStoredValue(HKEY_CLASSES_ROOT, key, "", KEY_WOW64_64KEY);
  return value.present ? std::string(value.bytes.c_str()) : std::string();
}

bool WriteDefaultClassValue(const char* keyPath, const std::string& text) {
  UniqueKey key;
  return RegCreateKeyExA(HKEY_CLASSES_ROOT, keyPath, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                         key.Receive(), nullptr) == ERROR_SUCCESS &&
         RegSetValueExA(key.Get(), "", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
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

  // An unattended installation into the default folders; false unless it ends with 0.
  bool InstallUnattended() {
    driver::InstallerProcess& process = Start(driver::InstallerPath(), "/S");
    DWORD exitCode = 99;
    return process.WaitForExit(kRunTimeoutMs, &exitCode) && exitCode == 0;
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
  DWORD RunQuietUninstallString(const std::string& switches = std::string()) {
    std::string quiet;
    EXPECT_TRUE(driver::ReadUninstallValue("QuietUninstallString", &quiet));
    return RunRemoval(quiet + switches);
  }

  // The uninstaller's dialog, found by its controls: optionally the data box ticked,
  // Remove, the result shown, closed; waits until every Uninstall.exe has ended.
  void RemoveThroughTheDialog(bool removeData = false) {
    HWND dialog = driver::WaitForDialogWithControl(IDC_UNINSTALL_REMOVE_DATA, kRunTimeoutMs);
    ASSERT_NE(dialog, nullptr) << "the uninstaller's dialog did not appear";
    EXPECT_EQ(driver::WindowText(dialog), texts::kUninstallTitle);
    EXPECT_NE(driver::ControlText(dialog, IDC_UNINSTALL_SUMMARY).find(InstallDir()), std::string::npos);
    if (removeData) {
      ASSERT_TRUE(driver::Click(dialog, IDC_UNINSTALL_REMOVE_DATA));
      ASSERT_TRUE(driver::WaitFor([&] { return driver::IsControlChecked(dialog, IDC_UNINSTALL_REMOVE_DATA); }));
    }
    ASSERT_TRUE(driver::Click(dialog, IDC_UNINSTALL_REMOVE));
    ASSERT_TRUE(driver::WaitForControlText(dialog, IDC_UNINSTALL_CANCEL, texts::kCloseButton, kRunTimeoutMs));
    EXPECT_EQ(driver::ControlText(dialog, IDC_UNINSTALL_SUMMARY), texts::kUninstallDone);
    ASSERT_TRUE(driver::Click(dialog, IDC_UNINSTALL_CANCEL));
    EXPECT_TRUE(driver::WaitFor([&] { return !IsWindow(dialog); }));
    EXPECT_TRUE(driver::WaitForNoProcessNamed("Uninstall.exe", kRunTimeoutMs));
  }

  // The removal's own uninstaller, which ran it, waits in a keep folder at the root of
  // C: for the restart; Wine's restart takes it, and then nothing differs from `clean_`.
  void ExpectMachineAsBeforeAfterRestart(const std::vector<std::string>& allowed = std::vector<std::string>()) {
    std::vector<std::string> untilRestart = allowed;
    untilRestart.push_back("C:\\~VelmorixKeep.");
    EXPECT_TRUE(SameMachine(clean_, TakeMachineSnapshot(), untilRestart));
    driver::InstallerProcess restart("wineboot");
    DWORD exitCode = 99;
    ASSERT_TRUE(restart.StartCommandLine("wineboot.exe -r") && restart.WaitForExit(kRunTimeoutMs, &exitCode));
    EXPECT_TRUE(SameMachine(clean_, TakeMachineSnapshot(), allowed));
  }

  MachineSnapshot clean_;
  std::unique_ptr<driver::InstallerProcess> uninstaller_;
};

// The installer started again on an installation made through the wizard: Remove on
// its mode page starts the uninstaller, whose dialog removes everything.
TEST_F(LifecycleTest, ModePageRemoveOfAWizardInstallationLeavesTheMachineAsBefore) {
  Start();
  HWND progress = InstallThroughTheWizard();
  ASSERT_NE(progress, nullptr);
  ASSERT_TRUE(driver::WaitForControlText(progress, IDC_PROGRESS_BUTTON, "Готово", kRunTimeoutMs));
  UntickRunProgram(progress);
  ASSERT_TRUE(driver::Click(progress, IDC_PROGRESS_BUTTON));
  ExpectExitZero();
  ExpectInstalled(InstallDir(), WorkDir());

  Start();
  HWND mode = Installer().WaitForPage(driver::Page::Mode);
  ASSERT_NE(mode, nullptr);
  ASSERT_TRUE(driver::IsControlEnabled(mode, IDC_MODE_REMOVE));
  ASSERT_TRUE(driver::Click(mode, IDC_MODE_REMOVE));
  ASSERT_TRUE(driver::Click(mode, IDC_MODE_NEXT));
  ExpectExitZero();  // at once, not when the uninstaller ends
  RemoveThroughTheDialog();

  ExpectMachineAsBeforeAfterRestart();
}

// Wine's own list of programs as a client of the entry: it runs UninstallString and
// waits for it; the dialog that opens removes everything.
TEST_F(LifecycleTest, WineUninstallerRemovesThroughTheEntry) {
  ASSERT_TRUE(InstallUnattended());
  driver::InstallerProcess wineUninstaller("wine-uninstaller");
  ASSERT_TRUE(wineUninstaller.StartCommandLine("uninstaller.exe --remove Velmorix"));
  RemoveThroughTheDialog();
  DWORD exitCode = 99;
  EXPECT_TRUE(wineUninstaller.WaitForExit(kRunTimeoutMs, &exitCode));

  ExpectMachineAsBeforeAfterRestart();
}

// What the user or another program made of the installation after it stays theirs:
// a changed and a new work-folder file, a shortcut pointed elsewhere, the .qzp class
// taken over by another program (and not given back what the installation replaced).
TEST_F(LifecycleTest, WhatOthersChangedSinceTheInstallationStays) {
  ASSERT_TRUE(WriteDefaultClassValue(".qzp", "Earlier.qzp"));
  clean_ = TakeMachineSnapshot();
  ASSERT_TRUE(InstallUnattended());
  ASSERT_EQ(DefaultClassValue(".qzp"), "VELMORIX.qzp");
  const std::string workDir = WorkDir();
  const std::vector<std::string> workFiles = driver::FilesUnder(workDir);
  ASSERT_FALSE(workFiles.empty());
  const std::string changed = workFiles.front();
  const std::string added = workDir + "\\mine\\notes.txt";
  ASSERT_TRUE(driver::WriteWholeFile(changed, "changed by the program"));
  ASSERT_TRUE(driver::CreateFolders(workDir + "\\mine"));
  ASSERT_TRUE(driver::WriteWholeFile(added, "the user's"));
  {
    const ComApartment com(CoInitialize(nullptr));
    const std::string shortcut = DesktopShortcut();
    const std::wstring link(shortcut.begin(), shortcut.end());
    ASSERT_EQ(CreateShellShortcut(link.c_str(), "C:\\windows\\notepad.exe", "C:\\windows", "C:\\windows\\notepad.exe"),
              S_OK);
  }
  ASSERT_TRUE(WriteDefaultClassValue(".qzp", "Other.qzp"));
  const MachineSnapshot changedByOthers = TakeMachineSnapshot();

  EXPECT_EQ(RunQuietUninstallString(), 0u);

  // Exactly these remain, as the others left them; their folders stand.
  const std::string left[] = {changed, added, DesktopShortcut(), ClassValuePath(".qzp")};
  const MachineSnapshot removed = TakeMachineSnapshot();
  for (const std::string& path : left) {
    ASSERT_EQ(removed.entries.count(path), 1u) << path;
    EXPECT_EQ(removed.entries.at(path), changedByOthers.entries.at(path)) << path;
  }
  std::vector<std::string> allowed(std::begin(left), std::end(left));
  for (std::string folder = added; folder.rfind('\\') > 2;) {
    folder.resize(folder.rfind('\\'));
    allowed.push_back(folder + "\\");
  }
  ExpectMachineAsBeforeAfterRestart(allowed);
}

// The QuietUninstallString of an unattended installation, run as a deployment tool
// runs it, with /REMOVEDATA: the work folder's changed and added files go too, and
// nothing stays.
TEST_F(LifecycleTest, QuietUninstallStringWithRemoveDataLeavesTheMachineAsBefore) {
  ASSERT_TRUE(InstallUnattended());
  ExpectInstalled(InstallDir(), WorkDir());
  const std::string workDir = WorkDir();
  const std::vector<std::string> workFiles = driver::FilesUnder(workDir);
  ASSERT_FALSE(workFiles.empty());
  ASSERT_TRUE(driver::WriteWholeFile(workFiles.back(), "changed by the program"));
  ASSERT_TRUE(driver::CreateFolders(workDir + "\\mine\\deeper"));
  ASSERT_TRUE(driver::WriteWholeFile(workDir + "\\mine\\deeper\\notes.txt", "the user's"));

  EXPECT_EQ(RunQuietUninstallString(" /REMOVEDATA"), 0u);

  ExpectMachineAsBeforeAfterRestart();
}

// A program file that cannot be moved (held open without delete sharing): the removal
// ends with 1 and puts back everything it had moved; the record stays, so a later
// removal still takes it all, even with the program running: its file cannot be
// deleted, so that removal ends with 3010 and the restart takes the file.
TEST_F(LifecycleTest, AFileThatCannotGoRestoresEverythingAndARunningProgramGoesAtTheRestart) {
  ASSERT_TRUE(InstallUnattended());
  const MachineSnapshot installed = TakeMachineSnapshot();
  const std::vector<std::string> programFiles = driver::FilesUnder(InstallDir());
  ASSERT_GE(programFiles.size(), 3u);
  {
    // Not the first file: some are moved aside before the failure.
    const UniqueHandle held(CreateFileA(programFiles[programFiles.size() / 2].c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);

    EXPECT_EQ(RunQuietUninstallString(), 1u);

    EXPECT_TRUE(SameMachine(installed, TakeMachineSnapshot()));
  }
  const std::string installDir = InstallDir();
  driver::InstallerProcess program("program");
  ASSERT_TRUE(program.Start(installDir + "\\Velmorix.exe"));
  HWND window = driver::WaitForForeignWindow(kSampleAppClass, 0);
  ASSERT_NE(window, nullptr);

  EXPECT_EQ(RunQuietUninstallString(), 3010u);

  EXPECT_FALSE(driver::FolderExists(installDir));
  EXPECT_TRUE(driver::CloseForeignWindow(window));
  ExpectMachineAsBeforeAfterRestart();
}

// A kept file in a removal's keep folder at the root of C: (not the uninstaller's copy).
bool SomeFileKept() {
  WIN32_FIND_DATAA found;
  const UniqueFind keep(FindFirstFileA("C:\\~VelmorixKeep.*", &found));
  if (!keep) return false;
  do {
    WIN32_FIND_DATAA kept;
    if (UniqueFind(FindFirstFileA((std::string("C:\\") + found.cFileName + "\\~VelmorixGone.*").c_str(), &kept)))
      return true;
  } while (FindNextFileA(keep.Get(), &found));
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
  driver::InstallerProcess& install = Start(installer, "/S");
  DWORD exitCode = 99;
  ASSERT_TRUE(install.WaitForExit(kRunTimeoutMs, &exitCode));
  ASSERT_EQ(exitCode, 0u);
  const std::string installDir = InstallDir();
  std::string quiet;
  ASSERT_TRUE(driver::ReadUninstallValue("QuietUninstallString", &quiet));

  uninstaller_ = std::make_unique<driver::InstallerProcess>("uninstall");
  ASSERT_TRUE(uninstaller_->StartCommandLine(quiet));
  ASSERT_TRUE(driver::WaitFor(SomeFileKept, kRunTimeoutMs, 1));
  EXPECT_EQ(driver::KillProcessesNamed("Uninstall.exe"), 2);
  const std::size_t left = driver::FilesUnder(installDir + "\\many").size();
  EXPECT_GT(left, 0u) << "the removal ended before it was killed";
  EXPECT_LT(left, 900u) << "killed before a file was moved";

  EXPECT_EQ(RunRemoval(quiet), 0u);
  ExpectMachineAsBeforeAfterRestart();
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
