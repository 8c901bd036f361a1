// What every end-to-end case shares: a clean machine before and after, the running
// installer, and checks of an unpacked payload.
#pragma once
#include <gtest/gtest.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <vector>

#include "e2e/driver/installer_driver.h"

namespace e2e {

// The driver's calls every case makes.
using driver::Click;
using driver::ControlText;
using driver::IsControlChecked;
using driver::IsControlEnabled;
using driver::Page;

constexpr char kScratch[] = "C:\\velmorix-e2e";
constexpr char kSampleAppClass[] = "VelmorixSampleApp";
constexpr char kSampleUninstallClass[] = "VelmorixSampleUninstall";

// A folder link planted from the Linux side as a user could: kLinkedFolder leads to
// the empty folder kLinkTarget. False when it cannot be made.
extern const std::string kLinkTarget;
extern const std::string kLinkedFolder;
bool PlantFolderLink();

// "<PROGRAMFILES>\Tarkweller\Velmorix" and the like.
std::string DefaultFolder(const char* variable);
std::string DesktopShortcut();
std::string StartMenuShortcut();

// Every entry of the staged archive `archiveName` (program.bin, work.bin) lies under
// `folder`, byte-identical to the file it was packed from. Returns the folders the
// archive's entries live in (folder itself and every sub-folder).
::testing::AssertionResult PayloadUnpacked(const std::string& archiveName, const std::string& folder,
                                           std::vector<std::string>* entryFolders = nullptr);

// The lines of the installation log at `path`, without their time stamps.
std::vector<std::string> LogLines(const std::string& path);
bool HasLine(const std::vector<std::string>& lines, const std::string& wanted);
bool HasLineContaining(const std::vector<std::string>& lines, const std::string& part);

// Everything a complete installation leaves: both archives byte-exact in their folders,
// workpath naming the work folder, the uninstall entry's folder and both shortcuts.
void ExpectInstalled(const std::string& installDir, const std::string& workDir);

// A copy of `installer` whose program archive (109) is `fileCount` files of
// `fileSize` bytes each.
std::string MakeInstallerWithBigPayload(const std::string& folder, int fileCount, std::size_t fileSize,
                                        const std::string& installer = driver::InstallerPath());

// A copy of `installer` in `folder` with `program` as its program archive (109).
// With `matchingSums` its checksums (111) are made to match; otherwise they stay
// those of the payload as built. Empty when the copy cannot be made.
std::string CopyInstallerWithProgramArchive(const std::string& folder, const std::vector<unsigned char>& program,
                                            bool matchingSums,
                                            const std::string& installer = driver::InstallerPath());

class InstallerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the installer (by default the built one) with `arguments`; fails the test
  // when it cannot.
  driver::InstallerProcess& Start(const std::string& executable = driver::InstallerPath(),
                                  const std::string& arguments = std::string());
  driver::InstallerProcess& Installer() { return *installer_; }
  // Waits for the end of the installer and expects exit code 0.
  void ExpectExitZero();
  // The mode page's Next with Install chosen, then the settings page.
  HWND OpenSettingsPage(HWND* modePage = nullptr);
  // Starts the installer, picks `mode` (IDC_MODE_INSTALL...) on the mode page and
  // presses Next; the mode page, or null.
  HWND StartAndChoose(int mode, const std::string& executable = driver::InstallerPath());
  // The window of class `windowClass` (the installed program's, the uninstaller's)
  // that the installer started comes, and is closed.
  ::testing::AssertionResult ForeignWindowCameAndClosed(const char* windowClass);
  // Mode page Next, settings page (optionally other folders / shortcuts off) Next; the
  // progress page.
  HWND InstallThroughTheWizard(const std::string& installDir = std::string(),
                               const std::string& workDir = std::string(), bool shortcuts = true);
  // Starts the installer (with `arguments`), InstallThroughTheWizard, then the box of
  // the run's failure: null when either does not come. The progress page in *progress.
  HWND InstallUntilTheFailureBox(const std::string& installDir, const std::string& workDir, bool shortcuts,
                                 HWND* progress, const std::string& arguments = std::string());
  // The same with both shortcuts, failing at the last step: a folder stands where the
  // desktop shortcut goes.
  HWND InstallFailingAtTheDesktopShortcut(const std::string& installDir, const std::string& workDir, HWND* progress,
                                          const std::string& arguments = std::string());
  // Clears the progress page's "start the program" box.
  void UntickRunProgram(HWND progress);
  // Every case runs with a desktop shell (driver::DesktopShell), as on a real desktop;
  // this ends it.
  void EndDesktopShell() { shell_.reset(); }

 private:
  static void CleanMachine();
  std::unique_ptr<driver::DesktopShell> shell_;
  std::unique_ptr<driver::InstallerProcess> installer_;
};

}  // namespace e2e
