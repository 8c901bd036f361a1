// A comctl32.dll planted beside the installer (in a Downloads folder, say) is never
// loaded into it. Wine prefers its own comctl32 unless told otherwise, so the case
// asks for native libraries first, which is what Windows does for a DLL that is not
// one of its known DLLs: a program importing comctl32 then loads the planted copy
// before its entry point, as the control shows. Wine reads that wish from the
// registry per program name (a WINEDLLOVERRIDES set here would not reach the child).
#include <string>

#include "resource_ids.h"
#include "e2e/e2e_fixture.h"
#include "support/registry.h"

namespace e2e {
namespace {

// Runs a program to its end; false when it cannot be started or does not end.
bool RunToEnd(const std::string& program) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  std::string commandLine = "\"" + program + "\"";
  if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return false;
  const UniqueHandle thread(process.hThread);
  const UniqueHandle handle(process.hProcess);
  return WaitForSingleObject(handle.Get(), driver::kTimeoutMs) == WAIT_OBJECT_0;
}

// Native comctl32 first for the programs of this name, for the life of the scope.
class NativeComctl32First {
 public:
  explicit NativeComctl32First(const std::string& program)
      : key_("Software\\Wine\\AppDefaults\\" + program + "\\DllOverrides") {
    set_ = WriteStringValue(HKEY_CURRENT_USER, key_.c_str(), "comctl32", "native,builtin");
  }
  ~NativeComctl32First() {
    RegDeleteKeyValueA(HKEY_CURRENT_USER, key_.c_str(), "comctl32");
    RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());  // only when nothing else is in it
  }
  NativeComctl32First(const NativeComctl32First&) = delete;
  NativeComctl32First& operator=(const NativeComctl32First&) = delete;
  bool Set() const { return set_; }

 private:
  std::string key_;
  bool set_ = false;
};

class PlantedLibraryTest : public InstallerTest {};

TEST_F(PlantedLibraryTest, AComctl32BesideTheInstallerIsNeverLoaded) {
  const std::string folder = std::string(kScratch) + "\\downloads";
  ASSERT_TRUE(driver::CreateFolders(folder));
  const std::string planted = driver::BuildDir() + "\\planted\\";
  ASSERT_TRUE(CopyFileA((planted + "comctl32.dll").c_str(), (folder + "\\comctl32.dll").c_str(), FALSE));
  ASSERT_TRUE(CopyFileA((planted + "probe.exe").c_str(), (folder + "\\probe.exe").c_str(), FALSE));
  ASSERT_TRUE(CopyFileA(driver::InstallerPath().c_str(), (folder + "\\VelmorixSetup.exe").c_str(), FALSE));
  const NativeComctl32First forProbe("probe.exe");
  const NativeComctl32First forInstaller("VelmorixSetup.exe");
  ASSERT_TRUE(forProbe.Set() && forInstaller.Set());

  const std::string probeMark = folder + "\\loaded-by-probe";
  {
    driver::ScopedEnvironment mark("VELMORIX_PLANTED_MARK", probeMark);
    ASSERT_TRUE(RunToEnd(folder + "\\probe.exe"));
  }
  ASSERT_TRUE(driver::FileExists(probeMark)) << "the control did not load the planted library";

  const std::string installerMark = folder + "\\loaded-by-installer";
  driver::ScopedEnvironment mark("VELMORIX_PLANTED_MARK", installerMark);
  // The installer loads comctl32 for the progress page's bars: a whole installation.
  Start(folder + "\\VelmorixSetup.exe");
  HWND progress = InstallThroughTheWizard(std::string(kScratch) + "\\planted\\program",
                                          std::string(kScratch) + "\\planted\\work", false);
  ASSERT_NE(progress, nullptr);
  ASSERT_TRUE(driver::WaitForControlText(progress, IDC_PROGRESS_BUTTON, "Готово"));
  EXPECT_FALSE(driver::FileExists(installerMark)) << "the installer loaded the planted comctl32.dll";
  UntickRunProgram(progress);
  ASSERT_TRUE(driver::Click(progress, IDC_PROGRESS_BUTTON));
  ExpectExitZero();
  EXPECT_FALSE(driver::FileExists(installerMark));
}

}  // namespace
}  // namespace e2e
