// velmorix_demo <installer path> <screenshot folder>
// Drives a complete default installation through the wizard, with a screenshot of
// every page, prints where the program went, closes the started program. Exit 0 on
// success, 1 on any failure (with the reason on stderr).
#include <windows.h>

#include <cstdio>
#include <string>

#include "resource_ids.h"
#include "e2e/driver/installer_driver.h"

namespace {

int Fail(const char* reason) {
  std::fprintf(stderr, "velmorix_demo: %s\n", reason);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: velmorix_demo <installer path> <screenshot folder>\n");
    return 2;
  }
  const std::string screenshots = argv[2];
  CreateDirectoryA(screenshots.c_str(), nullptr);
  // The program is started as the desktop's user, which needs a desktop shell.
  const driver::DesktopShell shell;
  driver::InstallerProcess installer("demo");
  // Each shot waits until the window has painted, caption included.
  const auto shoot = [&](HWND window, const char* name) {
    if (!driver::WaitUntilPainted(window)) std::fprintf(stderr, "velmorix_demo: %s: still painting\n", name);
    driver::SaveWindowBitmap(window, screenshots + "\\demo-" + name + ".bmp");
  };
  if (!installer.Start(argv[1])) return Fail("cannot start the installer");

  HWND mode = installer.WaitForPage(driver::Page::Mode);
  if (!mode) return Fail("the mode page did not appear");
  shoot(mode, "1-mode");
  driver::Click(mode, driver::PageControlId(driver::Page::Mode));

  HWND settings = installer.WaitForPage(driver::Page::Settings);
  if (!settings) return Fail("the settings page did not appear");
  shoot(settings, "2-settings");
  const std::string installDir = driver::ControlText(settings, IDC_SETTINGS_INSTALL_EDIT);
  driver::Click(settings, driver::PageControlId(driver::Page::Settings));

  HWND progress = installer.WaitForPage(driver::Page::Progress, 60000);
  if (!progress) {
    if (HWND box = installer.FindMessageBox()) std::fprintf(stderr, "%s\n", driver::MessageBoxText(box).c_str());
    return Fail("the progress page did not appear");
  }
  HWND box = nullptr;
  const bool finished = driver::WaitFor(
      [&] {
        box = installer.FindMessageBox();
        return box != nullptr || driver::ControlText(progress, IDC_PROGRESS_BUTTON) == "Готово";
      },
      120000);
  shoot(progress, "3-progress");
  if (box) {
    shoot(box, "4-error");
    std::fprintf(stderr, "%s\n", driver::MessageBoxText(box).c_str());
    driver::PressMessageBoxButton(box, IDOK);
    return Fail("the installation failed");
  }
  if (!finished) return Fail("the installation did not finish");
  driver::Click(progress, IDC_PROGRESS_BUTTON);

  DWORD exitCode = 1;
  if (!installer.WaitForExit(driver::kTimeoutMs, &exitCode) || exitCode != 0) return Fail("the installer did not end");
  std::printf("installed into %s\n", installDir.c_str());
  HWND program = driver::WaitForForeignWindow("VelmorixSampleApp", installer.ProcessId());
  if (!program) return Fail("the installed program did not start");
  shoot(program, "5-program");
  driver::CloseForeignWindow(program);
  std::printf("screenshots in %s\n", screenshots.c_str());
  return 0;
}
