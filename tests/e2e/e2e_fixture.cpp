#include "e2e/e2e_fixture.h"

#include <cstring>
#include <vector>

#include "engine/archive_reader.h"
#include "engine/payload_archive.h"
#include "engine/payload_checksum.h"
#include "log_lines.h"
#include "resource_ids.h"
#include "support/payload_archive.h"
#include "windows/engine_test_support.h"
#include "shared/raii.h"

namespace e2e {

const std::string kLinkTarget = std::string(kScratch) + "\\elsewhere";
const std::string kLinkedFolder = std::string(kScratch) + "\\linked";

bool PlantFolderLink() {
  return driver::CreateFolders(kLinkTarget) && enginetest::PlantLink(kLinkTarget, kLinkedFolder);
}

std::string DefaultFolder(const char* variable) {
  return driver::EnvironmentValue(variable) + "\\Tarkweller\\Velmorix";
}

std::string DesktopShortcut() { return driver::CommonFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\Velmorix.lnk"; }

std::string StartMenuShortcut() {
  return driver::CommonFolder(CSIDL_COMMON_PROGRAMS) + "\\Tarkweller\\Velmorix.lnk";
}

::testing::AssertionResult PayloadUnpacked(const std::string& archiveName, const std::string& folder,
                                           std::vector<std::string>* entryFolders) {
  std::vector<unsigned char> archive;
  const std::string archivePath = driver::PayloadDir() + "\\" + archiveName;
  if (!driver::ReadWholeFile(archivePath, &archive)) {
    return ::testing::AssertionFailure() << "cannot read " << archivePath;
  }
  ArchiveView view;
  if (ValidateArchive(archive.data(), archive.size(), &view) != ArchiveError::None) {
    return ::testing::AssertionFailure() << archivePath << " is not a valid archive";
  }
  std::size_t offset = view.dataOffset;
  for (std::int32_t i = 0; i < view.count; ++i) {
    const PayloadEntry entry = ReadPayloadEntry(view, i);
    const std::string relative = entry.relativeFolder;  // "\" or "\a\b\"
    const std::string installed = folder + relative + PayloadFileName(entry);
    if (entryFolders) entryFolders->push_back(folder + relative.substr(0, relative.size() - 1));
    const auto size = static_cast<std::size_t>(entry.size);
    std::vector<unsigned char> bytes;
    if (!driver::ReadWholeFile(installed, &bytes)) return ::testing::AssertionFailure() << "missing " << installed;
    if (bytes.size() != size || (size > 0 && std::memcmp(bytes.data(), archive.data() + offset, size) != 0)) {
      return ::testing::AssertionFailure() << installed << " differs from the archive";
    }
    // The build packs the staged payload as if it lay under a fixed root.
    std::string sourcePath = entry.sourcePath;
    const std::string packedRoot = driver::EnvironmentValue("VELMORIX_PACKED_ROOT");
    if (sourcePath.compare(0, packedRoot.size(), packedRoot) == 0)
      sourcePath = driver::PayloadDir() + sourcePath.substr(packedRoot.size());
    std::vector<unsigned char> source;
    if (!driver::ReadWholeFile(sourcePath, &source) || source != bytes) {
      return ::testing::AssertionFailure() << installed << " differs from " << sourcePath;
    }
    offset += size;
  }
  return ::testing::AssertionSuccess() << view.count << " files";
}

std::vector<std::string> LogLines(const std::string& path) {
  std::vector<unsigned char> bytes;
  if (!driver::ReadWholeFile(path, &bytes)) return std::vector<std::string>();
  return SplitLogLines(std::string(bytes.begin(), bytes.end()));
}

bool HasLine(const std::vector<std::string>& lines, const std::string& wanted) {
  for (const std::string& line : lines) {
    if (line == wanted) return true;
  }
  return false;
}

bool HasLineContaining(const std::vector<std::string>& lines, const std::string& part) {
  for (const std::string& line : lines) {
    if (line.find(part) != std::string::npos) return true;
  }
  return false;
}

void ExpectInstalled(const std::string& installDir, const std::string& workDir) {
  EXPECT_TRUE(PayloadUnpacked("program.bin", installDir));
  EXPECT_TRUE(PayloadUnpacked("work.bin", workDir));
  std::vector<unsigned char> workpath;
  EXPECT_TRUE(driver::ReadWholeFile(installDir + "\\workpath", &workpath));
  EXPECT_EQ(std::string(workpath.begin(), workpath.end()), workDir);
  std::string location;
  EXPECT_TRUE(driver::ReadUninstallValue("InstallLocation", &location));
  EXPECT_EQ(location, installDir);
  EXPECT_TRUE(driver::FileExists(DesktopShortcut()));
  EXPECT_TRUE(driver::FileExists(StartMenuShortcut()));
}

std::string MakeInstallerWithBigPayload(const std::string& folder, int fileCount, std::size_t fileSize,
                                        const std::string& installer) {
  std::vector<testsupport::ArchiveEntry> entries;
  for (int i = 0; i < fileCount; ++i) {
    char name[32];
    std::snprintf(name, sizeof(name), "Z:\\big\\file%03u.bin", static_cast<unsigned>(i));
    entries.push_back({name, "\\", fileSize});
  }
  std::vector<unsigned char> archive = testsupport::PayloadTable(entries);
  archive.resize(archive.size() + static_cast<std::size_t>(fileCount) * fileSize, 0x5A);
  return CopyInstallerWithProgramArchive(folder, archive, true, installer);
}

std::string CopyInstallerWithProgramArchive(const std::string& folder, const std::vector<unsigned char>& program,
                                            bool matchingSums, const std::string& installer) {
  driver::CreateFolders(folder);
  const std::string copy = folder + "\\VelmorixSetup.exe";
  if (!CopyFileA(installer.c_str(), copy.c_str(), FALSE)) return std::string();
  // The sums cover the copy's own work archive, stored or compressed.
  unsigned char sums[kPayloadChecksumSize];
  {
    const UniqueModule module(LoadLibraryExA(installer.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    const HRSRC resource = module ? FindResourceA(module.Get(), MAKEINTRESOURCEA(110), "Binary") : nullptr;
    const HGLOBAL loaded = resource ? LoadResource(module.Get(), resource) : nullptr;
    const void* work = loaded ? LockResource(loaded) : nullptr;
    if (work == nullptr) return std::string();
    EncodePayloadChecksums(Crc32(program.data(), program.size()),
                           Crc32(work, SizeofResource(module.Get(), resource)), sums);
  }

  const WORD russian = MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT);
  HANDLE update = BeginUpdateResourceA(copy.c_str(), FALSE);
  if (!update) return std::string();
  BOOL replaced = UpdateResourceA(update, "Binary", MAKEINTRESOURCEA(109), russian,
                                  const_cast<unsigned char*>(program.data()), static_cast<DWORD>(program.size()));
  if (matchingSums)
    replaced = replaced && UpdateResourceA(update, "Binary", MAKEINTRESOURCEA(111), russian, sums, sizeof(sums));
  if (!EndUpdateResourceA(update, !replaced) || !replaced) return std::string();
  return copy;
}

void InstallerTest::CleanMachine() {
  for (const char* windowClass : {kSampleAppClass, kSampleUninstallClass}) {
    while (HWND window = driver::FindForeignWindow(windowClass, 0)) {
      if (!driver::CloseForeignWindow(window, 5000)) break;
    }
  }
  driver::RemoveDefaultInstallation();
  driver::RemoveRunJournal();
  driver::DeleteTree(kScratch);
  driver::DeleteTree("C:\\velmorix e2e");
  driver::DeleteTree("C:\\velmorix.exe");
}

void InstallerTest::SetUp() {
  CleanMachine();
  shell_ = std::make_unique<driver::DesktopShell>();
}

void InstallerTest::TearDown() {
  installer_.reset();
  shell_.reset();
  CleanMachine();
}

driver::InstallerProcess& InstallerTest::Start(const std::string& executable, const std::string& arguments) {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  installer_ = std::make_unique<driver::InstallerProcess>(std::string(info->test_suite_name()) + "." + info->name());
  EXPECT_TRUE(installer_->Start(executable, arguments)) << "cannot start " << executable;
  return *installer_;
}

void InstallerTest::ExpectExitZero() {
  DWORD exitCode = 99;
  ASSERT_TRUE(installer_->WaitForExit(driver::kTimeoutMs, &exitCode)) << "the installer did not end";
  EXPECT_EQ(exitCode, 0u);
}

HWND InstallerTest::OpenSettingsPage(HWND* modePage) {
  HWND mode = installer_->WaitForPage(driver::Page::Mode);
  if (modePage) *modePage = mode;
  if (!mode || !driver::Click(mode, IDC_MODE_NEXT)) return nullptr;
  return installer_->WaitForPage(driver::Page::Settings);
}

HWND InstallerTest::StartAndChoose(int mode, const std::string& executable) {
  Start(executable);
  HWND page = installer_->WaitForPage(driver::Page::Mode);
  if (page == nullptr || !driver::Click(page, mode) || !driver::Click(page, IDC_MODE_NEXT)) return nullptr;
  return page;
}

::testing::AssertionResult InstallerTest::ForeignWindowCameAndClosed(const char* windowClass) {
  HWND window = driver::WaitForForeignWindow(windowClass, installer_->ProcessId());
  if (window == nullptr) return ::testing::AssertionFailure() << "no window of class " << windowClass << " came";
  if (!driver::CloseForeignWindow(window)) return ::testing::AssertionFailure() << windowClass << " did not close";
  return ::testing::AssertionSuccess();
}

HWND InstallerTest::InstallUntilTheFailureBox(const std::string& installDir, const std::string& workDir,
                                              bool shortcuts, HWND* progress, const std::string& arguments) {
  Start(driver::InstallerPath(), arguments);
  *progress = InstallThroughTheWizard(installDir, workDir, shortcuts);
  return *progress != nullptr ? installer_->WaitForMessageBox() : nullptr;
}

HWND InstallerTest::InstallFailingAtTheDesktopShortcut(const std::string& installDir, const std::string& workDir,
                                                       HWND* progress, const std::string& arguments) {
  *progress = nullptr;
  if (!driver::CreateFolders(DesktopShortcut())) return nullptr;
  return InstallUntilTheFailureBox(installDir, workDir, true, progress, arguments);
}

HWND InstallerTest::InstallThroughTheWizard(const std::string& installDir, const std::string& workDir,
                                            bool shortcuts) {
  HWND settings = OpenSettingsPage();
  if (!settings) return nullptr;
  if (!installDir.empty()) driver::SetControlText(settings, IDC_SETTINGS_INSTALL_EDIT, installDir);
  if (!workDir.empty()) driver::SetControlText(settings, IDC_SETTINGS_WORK_EDIT, workDir);
  if (!shortcuts) {
    driver::Click(settings, IDC_SETTINGS_DESKTOP);
    driver::Click(settings, IDC_SETTINGS_START_MENU);
    driver::WaitFor([&] {
      return !driver::IsControlChecked(settings, IDC_SETTINGS_DESKTOP) && !driver::IsControlChecked(settings, IDC_SETTINGS_START_MENU);
    });
  }
  driver::Click(settings, IDC_SETTINGS_NEXT);
  return installer_->WaitForPage(driver::Page::Progress);
}

void InstallerTest::UntickRunProgram(HWND progress) {
  ASSERT_TRUE(driver::Click(progress, IDC_PROGRESS_RUN_PROGRAM));
  ASSERT_TRUE(driver::WaitFor([&] { return !driver::IsControlChecked(progress, IDC_PROGRESS_RUN_PROGRAM); }));
}

}  // namespace e2e
