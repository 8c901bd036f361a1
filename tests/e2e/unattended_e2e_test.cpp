// The installer started with switches: an unattended installation with its log and
// exit status, and the command lines it refuses or answers with its usage.
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/e2e_fixture.h"
#include "engine/archive_reader.h"
#include "engine/payload_archive.h"
#include "shared/texts.h"

namespace e2e {
namespace {

constexpr DWORD kRunTimeoutMs = 60000;

// "<files> files, <bytes> bytes, " of a staged archive, as its log line states them.
std::string ArchiveFigures(const char* archiveName) {
  std::vector<unsigned char> archive;
  ArchiveView view;
  if (!driver::ReadWholeFile(driver::PayloadDir() + "\\" + archiveName, &archive) ||
      ValidateArchive(archive.data(), archive.size(), &view) != ArchiveError::None) {
    return "unreadable archive";
  }
  return std::to_string(view.count) + " files, " + std::to_string(view.dataBytes) + " bytes, ";
}

// The file version of the installer's version resource, else the uninstall entry's.
std::string InstallerFileVersion(const std::string& installer) {
  DWORD ignored = 0;
  std::vector<unsigned char> data(GetFileVersionInfoSizeA(installer.c_str(), &ignored));
  VS_FIXEDFILEINFO* info = nullptr;
  UINT size = 0;
  if (data.empty() || !GetFileVersionInfoA(installer.c_str(), 0, static_cast<DWORD>(data.size()), data.data()) ||
      !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &size) || size < sizeof(*info)) {
    return texts::kVersion;
  }
  return std::to_string(HIWORD(info->dwFileVersionMS)) + "." + std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(info->dwFileVersionLS)) + "." + std::to_string(LOWORD(info->dwFileVersionLS));
}

class UnattendedTest : public InstallerTest {
 protected:
  void SetUp() override {
    InstallerTest::SetUp();
    ASSERT_TRUE(driver::CreateFolders(kScratch));
  }

  // Runs the installer with `arguments` to its end, watching that no window of it ever
  // shows; returns its exit status (99 when it did not end).
  DWORD RunToEnd(const std::string& arguments, const std::string& installer = driver::InstallerPath()) {
    driver::InstallerProcess& process = Start(installer, arguments);
    DWORD exitCode = 99;
    HWND shown = nullptr;
    driver::WaitFor(
        [&] {
          if (!shown) shown = process.FindVisibleWindow();
          return process.WaitForExit(0, &exitCode);
        },
        kRunTimeoutMs);
    EXPECT_EQ(shown, nullptr) << "a window appeared: " << driver::WindowText(shown);
    return exitCode;
  }

  const std::string log_ = std::string(kScratch) + "\\setup.log";
};

TEST_F(UnattendedTest, InstallsIntoTheGivenFoldersWithoutAnyWindowAndLogsEachStep) {
  // A space and letters of the ANSI code page in the install folder.
  const std::string installDir = "C:\\velmorix e2e\\Мои программы\\Velmorix";
  const std::string installDirUtf8 = u8"C:\\velmorix e2e\\Мои программы\\Velmorix";
  const std::string workDir = std::string(kScratch) + "\\work";
  // The log is appended to.
  ASSERT_TRUE(driver::WriteWholeFile(log_, "earlier run\r\n", 13));

  EXPECT_EQ(RunToEnd("/S \"/D=" + installDir + "\" /WORKDIR=" + workDir + " /LOG=" + log_), 0u);

  ExpectInstalled(installDir, workDir);
  EXPECT_EQ(driver::FindForeignWindow(kSampleAppClass, 0), nullptr) << "the program must not be started";

  const std::vector<std::string> lines = LogLines(log_);
  ASSERT_GE(lines.size(), 10u);
  EXPECT_EQ(lines.front(), "unstamped: earlier run");
  EXPECT_EQ(lines[1].rfind("start: Velmorix setup " + InstallerFileVersion(driver::InstallerPath()) +
                               ", unattended, command line: ",
                           0),
            0u)
      << lines[1];
  EXPECT_NE(lines[1].find("\"/D=" + installDirUtf8 + "\" /WORKDIR="), std::string::npos) << lines[1];
  EXPECT_TRUE(HasLine(lines, "install: install folder " + installDirUtf8 + ", work folder " + workDir +
                                 ", desktop shortcut yes, Start menu shortcut yes"));
  EXPECT_TRUE(HasLine(lines, u8"folder created: C:\\velmorix e2e\\Мои программы"));
  EXPECT_TRUE(HasLine(lines, "folder created: " + workDir));
  EXPECT_TRUE(HasLineContaining(lines, "archive unpacked: " + installDirUtf8 + ": " + ArchiveFigures("program.bin")));
  EXPECT_TRUE(HasLineContaining(lines, "archive unpacked: " + workDir + ": " + ArchiveFigures("work.bin")));
  EXPECT_TRUE(HasLine(lines, "workpath written: " + installDirUtf8 + "\\workpath"));
  EXPECT_TRUE(HasLine(lines, "shortcut created: " + DesktopShortcut()));
  EXPECT_TRUE(HasLine(lines, "shortcut created: " + StartMenuShortcut()));
  EXPECT_TRUE(HasLine(lines, "uninstall entry written: HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmorix"));
  EXPECT_TRUE(HasLine(lines, "file type associated: .qzp"));
  EXPECT_FALSE(HasLineContaining(lines, "failed"));
  EXPECT_EQ(lines[lines.size() - 2], "run finished: succeeded");
  EXPECT_EQ(lines.back(), "exit status 0 (installed)");
}

TEST_F(UnattendedTest, LowerCaseSwitchesLeaveBothShortcutsOut) {
  const std::string installDir = std::string(kScratch) + "\\plain\\program";
  EXPECT_EQ(RunToEnd("/s /nodesktop /nostartmenu /d=" + installDir + " /workdir=" + kScratch + "\\plain\\work"), 0u);
  EXPECT_TRUE(driver::FileExists(installDir + "\\Velmorix.exe"));
  EXPECT_FALSE(driver::FileExists(DesktopShortcut()));
  EXPECT_FALSE(driver::FileExists(StartMenuShortcut()));
  std::string location;
  EXPECT_TRUE(driver::ReadUninstallValue("InstallLocation", &location));
  EXPECT_EQ(location, installDir);
}

TEST_F(UnattendedTest, InvalidCommandLinesEndWithTwoAndWriteNothing) {
  char current[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, current);
  const std::string relative = "velmorix-relative";
  for (const std::string& arguments : {"/S /D=" + relative + " /LOG=" + log_, "/S /X /LOG=" + log_,
                                       "/S /WORKDIR /LOG=" + log_}) {
    EXPECT_EQ(RunToEnd(arguments), 2u) << arguments;
    EXPECT_FALSE(driver::FileExists(log_)) << arguments;
    EXPECT_TRUE(driver::FilesUnder(kScratch).empty()) << arguments;
    EXPECT_FALSE(driver::FolderExists(std::string(current) + "\\" + relative)) << arguments;
    EXPECT_FALSE(driver::FolderExists(DefaultFolder("PROGRAMFILES"))) << arguments;
    EXPECT_FALSE(driver::FolderExists(DefaultFolder("ALLUSERSPROFILE"))) << arguments;
    std::string location;
    EXPECT_FALSE(driver::ReadUninstallValue("InstallLocation", &location)) << arguments;
  }
}

TEST_F(UnattendedTest, DamagedPayloadEndsWithOneLeavesNothingAndLogsTheCause) {
  std::vector<unsigned char> archive;
  ASSERT_TRUE(driver::ReadWholeFile(driver::PayloadDir() + "\\program.bin", &archive));
  archive.pop_back();  // the last file's data runs past the end, and the checksum differs
  const std::string installer = CopyInstallerWithProgramArchive(std::string(kScratch) + "\\damaged", archive, false);
  ASSERT_FALSE(installer.empty());
  const std::string installDir = std::string(kScratch) + "\\out\\program";
  const std::string workDir = std::string(kScratch) + "\\out\\work";

  EXPECT_EQ(RunToEnd("/S /D=" + installDir + " /WORKDIR=" + workDir + " /LOG=" + log_, installer), 1u);

  EXPECT_FALSE(driver::FolderExists(std::string(kScratch) + "\\out"));
  EXPECT_FALSE(driver::FileExists(DesktopShortcut()));
  EXPECT_FALSE(driver::FileExists(StartMenuShortcut()));
  std::string location;
  EXPECT_FALSE(driver::ReadUninstallValue("InstallLocation", &location));
  const std::vector<std::string> lines = LogLines(log_);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(HasLineContaining(lines, u8"failed: Невозможно подгрузить файл ресурсов; cause: payload-damaged; path: " +
                                           installer))
      << lines.size();
  EXPECT_EQ(lines.back(), "exit status 1 (installation failed)");
}

// /D or /WORKDIR behind a link: refused before anything is written, with the folder
// and the cause in the log.
TEST_F(UnattendedTest, AFolderReachedThroughALinkEndsWithOneBeforeAnythingIsWritten) {
  ASSERT_TRUE(PlantFolderLink());
  const std::string& elsewhere = kLinkTarget;
  const std::string& linked = kLinkedFolder;
  const std::string plain = std::string(kScratch) + "\\plain";
  for (const std::string& folders : {"/D=" + linked + "\\program /WORKDIR=" + plain + "\\work",
                                     "/D=" + plain + "\\program /WORKDIR=" + linked}) {
    driver::DeleteTree(log_);
    EXPECT_EQ(RunToEnd("/S " + folders + " /LOG=" + log_), 1u) << folders;
    EXPECT_FALSE(driver::FolderExists(plain)) << folders;
    EXPECT_TRUE(driver::FilesUnder(elsewhere).empty()) << folders;
    EXPECT_FALSE(driver::FileExists(DesktopShortcut())) << folders;
    std::string location;
    EXPECT_FALSE(driver::ReadUninstallValue("InstallLocation", &location)) << folders;
    const std::vector<std::string> lines = LogLines(log_);
    ASSERT_FALSE(lines.empty()) << folders;
    const std::string refused = folders.find("/WORKDIR=" + linked) != std::string::npos ? linked : linked + "\\program";
    EXPECT_TRUE(HasLine(lines, u8"failed: Невозможно использовать указанную директорию, это ссылка или точка "
                               u8"подключения; cause: chosen-folder-through-link; path: " + refused +
                               "; system error 4391"))
        << folders;
    EXPECT_EQ(lines.back(), "exit status 1 (installation failed)");
  }
}

// The installer with the compressed payload, its program archive damaged inside the
// last frame and resource 111 made to match: the layout and the sums pass, the frame's
// own checksum does not. The files written before it are taken back, the damaged
// file is named in the log.
TEST_F(UnattendedTest, DamagedCompressedFrameEndsWithOneAndLeavesNoFile) {
  std::vector<unsigned char> archive;
  ASSERT_TRUE(driver::ReadWholeFile(driver::PayloadDir() + "\\program.vxz", &archive));
  ArchiveView view;
  ASSERT_EQ(ValidateArchive(archive.data(), archive.size(), &view), ArchiveError::None);
  ASSERT_TRUE(view.compressed);
  archive[archive.size() - 3] ^= 0x10;
  const char* compressed = std::getenv("VELMORIX_COMPRESSED_INSTALLER");
  ASSERT_NE(compressed, nullptr);
  const std::string installer =
      CopyInstallerWithProgramArchive(std::string(kScratch) + "\\damaged-frame", archive, true, compressed);
  ASSERT_FALSE(installer.empty());
  const std::string out = std::string(kScratch) + "\\out";

  EXPECT_EQ(RunToEnd("/S /D=" + out + "\\program /WORKDIR=" + out + "\\work /LOG=" + log_, installer), 1u);

  EXPECT_TRUE(driver::FilesUnder(out).empty()) << driver::FilesUnder(out).size() << " files left";
  const std::vector<std::string> lines = LogLines(log_);
  const PayloadEntry last = ReadPayloadEntry(view, view.count - 1);
  EXPECT_TRUE(HasLineContaining(lines, u8"failed: Невозможно подгрузить файл ресурсов; cause: frame-damaged; path: " + out + "\\program" +
                                           last.relativeFolder + PayloadFileName(last)))
      << ::testing::PrintToString(lines);
  EXPECT_TRUE(HasLine(lines, "exit status 1 (installation failed)"));
}

// Without /S a window may answer: the usage on /?, the fault with the usage for a
// switch that needs /S or is unknown, and a log that cannot be opened.
TEST_F(UnattendedTest, UsageBoxEndsWithZeroAndASwitchWithoutUnattendedWithTwo) {
  struct Case {
    const char* arguments;
    std::string text;
    DWORD exitCode;
  };
  const Case cases[] = {
      {"/?", texts::kUsage, 0},
      {"/NODESKTOP", std::string("Неверная командная строка\n\n") + texts::kUsage, 2},
      {"/X", std::string("Неверная командная строка: /X\n\n") + texts::kUsage, 2},
      // A log that names a folder cannot be opened.
      {"/LOG=C:\\velmorix-e2e", "Невозможно открыть файл журнала: C:\\velmorix-e2e", 2},
  };
  for (const Case& c : cases) {
    driver::InstallerProcess& process = Start(driver::InstallerPath(), c.arguments);
    HWND box = process.WaitForMessageBox();
    ASSERT_NE(box, nullptr) << c.arguments;
    EXPECT_EQ(driver::WindowText(box), texts::kWindowTitle);
    EXPECT_EQ(driver::MessageBoxText(box), c.text);
    EXPECT_TRUE(driver::PressMessageBoxButton(box, IDOK));
    DWORD exitCode = 99;
    EXPECT_TRUE(process.WaitForExit(driver::kTimeoutMs, &exitCode)) << c.arguments;
    EXPECT_EQ(exitCode, c.exitCode) << c.arguments;
  }
}

}  // namespace
}  // namespace e2e
