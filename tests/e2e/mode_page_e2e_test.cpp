// The mode page driven from outside: what it shows, what it finds in the registry,
// Remove, and the keys and placement rules of the page frame.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "resource_ids.h"
#include "e2e/e2e_fixture.h"

namespace e2e {
namespace {

constexpr int kNext = IDC_MODE_NEXT, kCancel = IDC_MODE_CANCEL, kInstall = IDC_MODE_INSTALL, kRun = IDC_MODE_RUN, kRepair = IDC_MODE_REPAIR, kRemove = IDC_MODE_REMOVE;

class ModePageTest : public InstallerTest {
 protected:
  // Copies a sample program of the build to `destination`.
  static bool PlaceSample(const char* name, const std::string& destination) {
    return CopyFileA((driver::BuildDir() + "\\samples\\" + name).c_str(), destination.c_str(), FALSE) != FALSE;
  }
};

TEST_F(ModePageTest, FreshMachineOffersInstallAndRunOnACentredPage) {
  Start();
  HWND page = Installer().WaitForPage(Page::Mode);
  ASSERT_NE(page, nullptr);
  // Code page 1251 bytes, spelled out so that a wrong code page cannot pass.
  EXPECT_EQ(ControlText(page, kNext), "\xC4\xE0\xEB\xE5\xE5 >");
  EXPECT_EQ(driver::WindowText(page), "Установка приложения Velmorix");
  EXPECT_EQ(ControlText(page, kCancel), "Отмена");
  EXPECT_EQ(ControlText(page, kInstall), "Установить");
  EXPECT_EQ(ControlText(page, kRun), "Запустить");
  EXPECT_EQ(ControlText(page, kRepair), "Восстановить");
  EXPECT_EQ(ControlText(page, kRemove), "Удалить");
  EXPECT_EQ(ControlText(page, IDC_MODE_GREETING), "Вас приветствует установщик программы Velmorix");

  EXPECT_TRUE(IsControlChecked(page, kInstall));
  EXPECT_FALSE(IsControlChecked(page, kRun));
  EXPECT_TRUE(IsControlEnabled(page, kInstall));
  EXPECT_TRUE(IsControlEnabled(page, kRun));
  EXPECT_FALSE(IsControlEnabled(page, kRepair));
  EXPECT_FALSE(IsControlEnabled(page, kRemove));

  RECT area{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  const RECT rect = driver::WindowRect(page);
  EXPECT_NEAR((rect.left + rect.right) / 2, (area.left + area.right) / 2, 2);
  EXPECT_NEAR((rect.top + rect.bottom) / 2, (area.top + area.bottom) / 2, 2);
}

// How many colours the part `rect` (window coordinates) of a capture holds, at most 3.
int ColoursIn(const driver::Capture& shot, const RECT& rect) {
  const std::size_t stride = (static_cast<std::size_t>(shot.width) * 3 + 3) & ~std::size_t{3};
  std::vector<std::uint32_t> seen;
  for (int y = std::max(0L, rect.top); y < std::min<LONG>(shot.height, rect.bottom); ++y) {
    const std::size_t row = static_cast<std::size_t>(shot.height - 1 - y) * stride;  // rows are bottom-up
    for (int x = std::max(0L, rect.left); x < std::min<LONG>(shot.width, rect.right); ++x) {
      const unsigned char* pixel = &shot.pixels[row + static_cast<std::size_t>(x) * 3];
      const std::uint32_t colour = pixel[0] | (pixel[1] << 8) | (pixel[2] << 16);
      if (std::find(seen.begin(), seen.end(), colour) == seen.end()) seen.push_back(colour);
      if (seen.size() == 3) return 3;
    }
  }
  return static_cast<int>(seen.size());
}

// What the run command's screenshots show: the caption bar with its title (Wine draws
// it for an unmanaged window; without a window manager nothing else does) and the
// page's own texts, once the page has painted.
TEST_F(ModePageTest, PaintsItsCaptionBarAndItsTexts) {
  Start();
  HWND page = Installer().WaitForPage(Page::Mode);
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(driver::WaitUntilPainted(page));
  driver::Capture shot;
  ASSERT_TRUE(driver::CaptureWindow(page, &shot));
  const RECT window = driver::WindowRect(page);
  POINT client{0, 0};
  ASSERT_TRUE(ClientToScreen(page, &client));
  const RECT caption{0, 0, shot.width, client.y - window.top};
  ASSERT_GT(caption.bottom, 8) << "no caption bar above the client area";
  EXPECT_GE(ColoursIn(shot, caption), 2) << "the caption bar is blank";
  RECT greeting = driver::WindowRect(driver::Control(page, IDC_MODE_GREETING));
  OffsetRect(&greeting, -window.left, -window.top);
  EXPECT_GE(ColoursIn(shot, greeting), 2) << "the greeting is not drawn";
}

TEST_F(ModePageTest, EarlierInstallationEnablesReinstallAndRemove) {
  ASSERT_TRUE(driver::WriteUninstallLocation(std::string(kScratch) + "\\earlier"));
  Start();
  HWND page = Installer().WaitForPage(Page::Mode);
  ASSERT_NE(page, nullptr);
  EXPECT_TRUE(IsControlEnabled(page, kRepair));
  EXPECT_TRUE(IsControlEnabled(page, kRemove));
  EXPECT_TRUE(IsControlChecked(page, kInstall));
}

TEST_F(ModePageTest, OverlongInstallLocationIsIgnored) {
  const std::string location = "C:\\" + std::string(296, 'x');  // 299 characters and the terminator
  ASSERT_TRUE(driver::WriteUninstallLocation(location));
  Start();
  HWND page = Installer().WaitForPage(Page::Mode);
  ASSERT_NE(page, nullptr);
  EXPECT_FALSE(IsControlEnabled(page, kRepair));
  EXPECT_FALSE(IsControlEnabled(page, kRemove));
  EXPECT_TRUE(Installer().Running());
  ASSERT_TRUE(Click(page, kCancel));
  ExpectExitZero();
}

TEST_F(ModePageTest, RemoveStartsTheUninstallerAndEnds) {
  const std::string folder = std::string(kScratch) + "\\installed";
  ASSERT_TRUE(driver::CreateFolders(folder));
  ASSERT_TRUE(PlaceSample("Uninstall.exe", folder + "\\Uninstall.exe")) << driver::BuildDir();
  ASSERT_TRUE(driver::WriteUninstallLocation(folder));
  ASSERT_NE(StartAndChoose(kRemove), nullptr);
  ExpectExitZero();
  EXPECT_TRUE(ForeignWindowCameAndClosed(kSampleUninstallClass)) << "the uninstaller";
}

TEST_F(ModePageTest, RemoveWithoutUninstallerReportsFileNotFoundAndEnds) {
  const std::string folder = std::string(kScratch) + "\\empty";
  ASSERT_TRUE(driver::CreateFolders(folder));
  ASSERT_TRUE(driver::WriteUninstallLocation(folder));
  ASSERT_NE(StartAndChoose(kRemove), nullptr);
  HWND box = Installer().WaitForMessageBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(driver::MessageBoxText(box), "The specified file was not found.");
  EXPECT_EQ(driver::WindowText(box), "Не удалось запустить Uninstall.exe");
  EXPECT_TRUE(Installer().Running()) << "the installer must wait for OK";
  ASSERT_TRUE(driver::PressMessageBoxButton(box, IDOK));
  ExpectExitZero();
}

// An unquoted command line would start C:\velmorix.exe with "e2e\dir\Uninstall.exe" as
// its argument; the quoted one starts the uninstaller.
TEST_F(ModePageTest, RemoveFromAFolderWithASpaceStartsTheUninstallerNotADecoy) {
  const std::string folder = "C:\\velmorix e2e\\dir";
  ASSERT_TRUE(driver::CreateFolders(folder));
  ASSERT_TRUE(PlaceSample("Uninstall.exe", folder + "\\Uninstall.exe"));
  ASSERT_TRUE(PlaceSample("Velmorix.exe", "C:\\velmorix.exe"));
  ASSERT_TRUE(driver::WriteUninstallLocation(folder));
  ASSERT_NE(StartAndChoose(kRemove), nullptr);
  ExpectExitZero();
  HWND uninstaller = driver::WaitForForeignWindow(kSampleUninstallClass, Installer().ProcessId());
  ASSERT_NE(uninstaller, nullptr);
  EXPECT_EQ(driver::FindForeignWindow(kSampleAppClass, Installer().ProcessId()), nullptr) << "the decoy ran";
  EXPECT_TRUE(driver::CloseForeignWindow(uninstaller));
}

// Escape goes to the dialog manager, which turns it into IDCANCEL: nothing handles it.
// The Tab after it shows that the key was processed before we look.
TEST_F(ModePageTest, EscapeDoesNothingAndCancelEnds) {
  Start();
  HWND page = Installer().WaitForPage(Page::Mode);
  ASSERT_NE(page, nullptr);
  HWND before = Installer().FocusedWindow();
  ASSERT_NE(before, nullptr);
  ASSERT_TRUE(Installer().PressKey(VK_ESCAPE));
  ASSERT_TRUE(Installer().PressKey(VK_TAB));
  ASSERT_TRUE(driver::WaitFor([&] { return Installer().FocusedWindow() != before; }));
  EXPECT_TRUE(Installer().Running());
  EXPECT_TRUE(IsWindowVisible(page));
  EXPECT_EQ(Installer().FindMessageBox(), nullptr);
  ASSERT_TRUE(Click(page, kCancel));
  ExpectExitZero();
}

TEST_F(ModePageTest, EnterPressesNext) {
  Start();
  HWND page = Installer().WaitForPage(Page::Mode);
  ASSERT_NE(page, nullptr);
  ASSERT_EQ(Installer().FocusedWindow(), driver::Control(page, kNext));
  ASSERT_TRUE(Installer().PressKey(VK_RETURN));
  EXPECT_NE(Installer().WaitForPage(Page::Settings), nullptr);
  EXPECT_FALSE(IsWindowVisible(page));
}

// Arrow keys never reach the dialog manager, so they cannot move the radio selection.
TEST_F(ModePageTest, ArrowKeysDoNotMoveTheSelection) {
  ASSERT_TRUE(driver::WriteUninstallLocation(std::string(kScratch) + "\\earlier"));
  Start();
  HWND page = Installer().WaitForPage(Page::Mode);
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(Click(page, kRun));  // selects Run and gives it the focus
  HWND run = driver::Control(page, kRun);
  ASSERT_TRUE(driver::WaitFor([&] { return Installer().FocusedWindow() == run; }));
  ASSERT_TRUE(Installer().PressKey(VK_DOWN));
  ASSERT_TRUE(Installer().PressKey(VK_TAB));
  ASSERT_TRUE(driver::WaitFor([&] { return Installer().FocusedWindow() != run; }));
  EXPECT_TRUE(IsControlChecked(page, kRun));
  EXPECT_FALSE(IsControlChecked(page, kRepair));
  EXPECT_FALSE(IsControlChecked(page, kInstall));
}

// Install, Next, Back: the settings page put its default into the install folder.
// Reinstall and Remove chosen then still act on the installation the registry names.
class AfterAnInstallVisit : public ModePageTest {
 protected:
  HWND ChooseAfterBack(int mode) {
    HWND modePage = nullptr;
    HWND settings = OpenSettingsPage(&modePage);
    if (!settings || ControlText(settings, IDC_SETTINGS_INSTALL_EDIT) == Earlier()) return nullptr;
    Click(settings, 3);  // "< Назад"
    if (!driver::WaitUntilHidden(settings)) return nullptr;
    Click(modePage, mode);
    if (!driver::WaitFor([&] { return IsControlChecked(modePage, mode); })) return nullptr;
    Click(modePage, kNext);
    return modePage;
  }
  static std::string Earlier() { return std::string(kScratch) + "\\earlier"; }
};

TEST_F(AfterAnInstallVisit, ReinstallUsesTheRecordedFolder) {
  ASSERT_TRUE(driver::WriteUninstallLocation(Earlier()));
  Start();
  HWND modePage = ChooseAfterBack(kRepair);
  ASSERT_NE(modePage, nullptr);
  ASSERT_TRUE(driver::WaitUntilHidden(modePage));
  HWND settings = Installer().WaitForPage(Page::Settings);
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(ControlText(settings, IDC_SETTINGS_INSTALL_EDIT), Earlier());
  EXPECT_FALSE(IsControlEnabled(settings, IDC_SETTINGS_INSTALL_EDIT));
  ASSERT_TRUE(Click(settings, IDC_SETTINGS_CANCEL));
  ExpectExitZero();
}

TEST_F(AfterAnInstallVisit, RemoveStartsTheRecordedUninstaller) {
  ASSERT_TRUE(driver::CreateFolders(Earlier()));
  ASSERT_TRUE(PlaceSample("Uninstall.exe", Earlier() + "\\Uninstall.exe"));
  ASSERT_TRUE(driver::WriteUninstallLocation(Earlier()));
  Start();
  ASSERT_NE(ChooseAfterBack(kRemove), nullptr);
  ExpectExitZero();
  // There is no uninstaller in the default folder: only the recorded one can start.
  EXPECT_TRUE(ForeignWindowCameAndClosed(kSampleUninstallClass)) << "the recorded uninstaller";
}

TEST_F(ModePageTest, PagesOpenWhereTheLastOneStoodAndBackShowsTheModePageUnmoved) {
  Start();
  HWND mode = Installer().WaitForPage(Page::Mode);
  ASSERT_NE(mode, nullptr);
  ASSERT_TRUE(driver::MoveWindowTo(mode, 37, 41));
  ASSERT_TRUE(driver::WaitFor([&] { return driver::WindowRect(mode).left == 37; }));
  ASSERT_TRUE(Click(mode, kNext));
  HWND settings = Installer().WaitForPage(Page::Settings);
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(driver::WindowRect(settings).left, 37);
  EXPECT_EQ(driver::WindowRect(settings).top, 41);

  ASSERT_TRUE(driver::MoveWindowTo(settings, 150, 120));
  ASSERT_TRUE(Click(settings, 3));  // "< Назад"
  ASSERT_TRUE(driver::WaitUntilHidden(settings));
  ASSERT_EQ(Installer().WaitForPage(Page::Mode), mode);
  EXPECT_EQ(driver::WindowRect(mode).left, 37);
  EXPECT_EQ(driver::WindowRect(mode).top, 41);
  EXPECT_TRUE(IsControlChecked(mode, kInstall));
}

}  // namespace
}  // namespace e2e
