// The settings page driven from outside: defaults, folder creation failures, reinstall.
#include <string>
#include <vector>

#include "resource_ids.h"
#include "e2e/e2e_fixture.h"

namespace e2e {
namespace {

constexpr int kNext = IDC_SETTINGS_NEXT, kCancel = IDC_SETTINGS_CANCEL, kInstallBrowse = IDC_SETTINGS_INSTALL_BROWSE, kInstallEdit = IDC_SETTINGS_INSTALL_EDIT, kDesktop = IDC_SETTINGS_DESKTOP,
              kStartMenu = IDC_SETTINGS_START_MENU, kWorkEdit = IDC_SETTINGS_WORK_EDIT;

class SettingsPageTest : public InstallerTest {};

TEST_F(SettingsPageTest, InstallingProposesTheDefaultFoldersAndBothShortcuts) {
  Start();
  HWND page = OpenSettingsPage();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(ControlText(page, kInstallEdit), DefaultFolder("PROGRAMFILES"));
  EXPECT_EQ(ControlText(page, kWorkEdit), DefaultFolder("ALLUSERSPROFILE"));
  EXPECT_TRUE(IsControlChecked(page, kDesktop));
  EXPECT_TRUE(IsControlChecked(page, kStartMenu));
  EXPECT_TRUE(IsControlEnabled(page, kInstallEdit));
  EXPECT_TRUE(IsControlEnabled(page, kInstallBrowse));
  ASSERT_TRUE(Click(page, kCancel));
  ExpectExitZero();
  EXPECT_FALSE(driver::FolderExists(DefaultFolder("PROGRAMFILES"))) << "Cancel must create nothing";
}

TEST_F(SettingsPageTest, FolderThatCannotBeCreatedIsReportedOnceAndThePageStays) {
  const std::string blocker = std::string(kScratch) + "\\file";
  ASSERT_TRUE(driver::CreateFolders(kScratch));
  ASSERT_TRUE(driver::WriteWholeFile(blocker, "x", 1));
  const std::string folder = blocker + "\\sub";
  Start();
  HWND page = OpenSettingsPage();
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(driver::SetControlText(page, kInstallEdit, folder));
  ASSERT_TRUE(Click(page, kNext));
  HWND box = Installer().WaitForMessageBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(driver::WindowText(box), "Ошибка");
  const std::string text = driver::MessageBoxText(box);
  ASSERT_EQ(text.rfind(folder + "\n", 0), 0u) << text;
  const std::string sentence = text.substr(folder.size() + 1);
  EXPECT_TRUE(sentence == "Невозможно создать указанную директорию, неизвестный путь" ||
              sentence == "Невозможно создать указанную директорию, нет прав" ||
              sentence == "Невозможно создать указанную директорию")
      << sentence;
  ASSERT_TRUE(driver::PressMessageBoxButton(box, IDOK));
  ASSERT_TRUE(driver::WaitFor([&] { return Installer().FindMessageBox() == nullptr; }));
  EXPECT_TRUE(IsWindowVisible(page));
  EXPECT_EQ(ControlText(page, kInstallEdit), folder);
  EXPECT_FALSE(driver::FolderExists(DefaultFolder("ALLUSERSPROFILE"))) << "the work folder is not attempted";
  EXPECT_TRUE(Installer().Running());
}

// Reinstall: the recorded install folder is locked, the work folder comes back from the
// workpath file, and both archives are written again over what is there.
TEST_F(SettingsPageTest, ReinstallReadsTheWorkFolderBackAndOverwritesTheFiles) {
  const std::string program = std::string(kScratch) + "\\re\\program";
  const std::string work = std::string(kScratch) + "\\re\\data";
  ASSERT_TRUE(driver::CreateFolders(program));
  ASSERT_TRUE(driver::WriteWholeFile(program + "\\workpath", work.data(), work.size()));
  ASSERT_TRUE(driver::WriteWholeFile(program + "\\Velmorix.exe", "stale", 5));
  ASSERT_TRUE(driver::WriteUninstallLocation(program));
  ASSERT_NE(StartAndChoose(IDC_MODE_REPAIR), nullptr);
  HWND page = Installer().WaitForPage(Page::Settings);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(ControlText(page, kInstallEdit), program);
  EXPECT_EQ(ControlText(page, kWorkEdit), work);
  EXPECT_FALSE(IsControlEnabled(page, kInstallEdit));
  EXPECT_FALSE(IsControlEnabled(page, kInstallBrowse));
  EXPECT_FALSE(IsControlChecked(page, kDesktop));
  EXPECT_FALSE(IsControlChecked(page, kStartMenu));

  ASSERT_TRUE(Click(page, kNext));
  HWND progress = Installer().WaitForPage(Page::Progress);
  ASSERT_NE(progress, nullptr);
  ASSERT_TRUE(driver::WaitForControlText(progress, IDC_PROGRESS_BUTTON, "Готово")) << ControlText(progress, IDC_PROGRESS_BUTTON);
  EXPECT_TRUE(PayloadUnpacked("program.bin", program));
  EXPECT_TRUE(PayloadUnpacked("work.bin", work));
  ASSERT_TRUE(Click(progress, IDC_PROGRESS_RUN_PROGRAM));  // do not start the program
  ASSERT_TRUE(driver::WaitFor([&] { return !IsControlChecked(progress, IDC_PROGRESS_RUN_PROGRAM); }));
  ASSERT_TRUE(Click(progress, IDC_PROGRESS_BUTTON));
  ExpectExitZero();
  EXPECT_FALSE(driver::FileExists(DesktopShortcut())) << "reinstalling makes no shortcut";
  std::string location;
  ASSERT_TRUE(driver::ReadUninstallValue("InstallLocation", &location));
  EXPECT_EQ(location, program);
}

// A chosen folder that is a link, or lies behind one, is named with its own sentence
// before either folder is created; the page stays.
TEST_F(SettingsPageTest, AFolderReachedThroughALinkIsRefusedBeforeAnyFolderIsCreated) {
  ASSERT_TRUE(PlantFolderLink());
  const std::string& elsewhere = kLinkTarget;
  const std::string& linked = kLinkedFolder;
  const std::string plain = std::string(kScratch) + "\\plain";
  Start();
  HWND page = OpenSettingsPage();
  ASSERT_NE(page, nullptr);
  const struct {
    int edit;
    std::string folder;
  } cases[] = {{kInstallEdit, linked + "\\program"}, {kWorkEdit, linked}};
  for (const auto& c : cases) {
    ASSERT_TRUE(driver::SetControlText(page, kInstallEdit, c.edit == kInstallEdit ? c.folder : plain + "\\program"));
    ASSERT_TRUE(driver::SetControlText(page, kWorkEdit, c.edit == kWorkEdit ? c.folder : plain + "\\work"));
    ASSERT_TRUE(Click(page, kNext));
    HWND box = Installer().WaitForMessageBox();
    ASSERT_NE(box, nullptr) << c.folder;
    EXPECT_EQ(driver::WindowText(box), "Ошибка");
    EXPECT_EQ(driver::MessageBoxText(box),
              c.folder + "\nНевозможно использовать указанную директорию, это ссылка или точка подключения");
    ASSERT_TRUE(driver::PressMessageBoxButton(box, IDOK));
    ASSERT_TRUE(driver::WaitFor([&] { return Installer().FindMessageBox() == nullptr; }));
    EXPECT_TRUE(IsWindowVisible(page));
    EXPECT_FALSE(driver::FolderExists(plain)) << c.folder;
    EXPECT_TRUE(driver::FilesUnder(elsewhere).empty()) << c.folder;
  }
  EXPECT_FALSE(driver::FolderExists(elsewhere + "\\program"));
}

// A workpath file too long for a path is ignored: the default work folder applies.
TEST_F(SettingsPageTest, OverlongWorkpathFileIsIgnored) {
  const std::string program = std::string(kScratch) + "\\long";
  ASSERT_TRUE(driver::CreateFolders(program));
  const std::string content = "C:\\" + std::string(300, 'w');
  ASSERT_TRUE(driver::WriteWholeFile(program + "\\workpath", content.data(), content.size()));
  ASSERT_TRUE(driver::WriteUninstallLocation(program));
  ASSERT_NE(StartAndChoose(IDC_MODE_REPAIR), nullptr);
  HWND page = Installer().WaitForPage(Page::Settings);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(ControlText(page, kWorkEdit), DefaultFolder("ALLUSERSPROFILE"));
  EXPECT_EQ(ControlText(page, kInstallEdit), program);
}

}  // namespace
}  // namespace e2e
