// A fresh installation that fails after its integration steps, is cancelled, or is
// killed between any two of its steps and recovered by the next start leaves the
// machine as it found it: no shortcut, uninstall entry, class key or value, workpath
// file or installation record of its own, and what it replaced (an earlier shortcut,
// another program's .qzp value, the entry of an installation in another folder) back.
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/installation_record.h"
#include "engine/run_outcome.h"
#include "engine_test_support.h"
#include "integration/registry_writer.h"
#include "integration/shortcuts.h"
#include "payload_module.h"
#include "shared/platform.h"
#include "shared/texts.h"
#include "support/registry.h"

using namespace enginetest;

namespace {

using Snapshot = RegistryDump;
constexpr char kChildVariable[] = "VELMORIX_INSTALL_CRASH_CHILD";
constexpr char kOtherFolder[] = "C:\\Other\\Velmorix";

REGSAM View() { return Detect64BitWindows() ? KEY_WOW64_64KEY : 0; }

std::string CommonFolder(int folderId) {
  char path[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, folderId | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

const std::vector<TestEntry> kProgram = {{"Velmorix.exe", "\\", Pattern(900, 1)}};
const std::vector<TestEntry> kWork = {{"settings", "\\workdir\\", Pattern(700, 2)}};

void SetText(HKEY root, const char* path, const char* name, const char* text, DWORD options = REG_OPTION_NON_VOLATILE) {
  UniqueKey key;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(root, path, 0, nullptr, options, KEY_ALL_ACCESS | View(), nullptr, key.Receive(),
                            &disposition),
            ERROR_SUCCESS);
  if (name != nullptr) {
    ASSERT_EQ(WriteTextValue(key.Get(), name, text), ERROR_SUCCESS);
  }
}

// The machine an installation meets: its two folders made (empty), an earlier shortcut
// on the desktop pointing elsewhere, another program's .qzp value, and the uninstall
// entry of an installation in another folder.
class Scene {
 public:
  Scene() : installDir_(root_ / "program"), workDir_(root_ / "work") {}
  ~Scene() { Clear(); }
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  const std::string& InstallDir() const { return installDir_; }
  const std::string& WorkDir() const { return workDir_; }
  const std::string& Root() const { return root_.Path(); }
  std::string DesktopLink() const { return CommonFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\Velmorix.lnk"; }
  std::string MakerFolder() const { return CommonFolder(CSIDL_COMMON_PROGRAMS) + "\\Tarkweller"; }

  void Set() {
    Clear();
    // A killed child's folder handles may outlive it for a moment.
    for (const std::string& folder : {installDir_, workDir_}) {
      bool made = CreateDirectoryA(folder.c_str(), nullptr) != FALSE;
      for (int attempt = 0; !made && attempt < 20; ++attempt) {
        Sleep(100);
        enginetest::DeleteTree(folder);
        made = CreateDirectoryA(folder.c_str(), nullptr) != FALSE;
      }
      ASSERT_TRUE(made) << folder << " holds " << enginetest::ListFiles(folder).size() << " files";
    }
    SetText(HKEY_CLASSES_ROOT, ".qzp", "", "OtherApp.qzp");
    SetText(HKEY_CLASSES_ROOT, ".qzp", "Custom", "the other program's");
    const std::string entry = std::string(texts::kUninstallKeyPath);
    SetText(HKEY_LOCAL_MACHINE, entry.c_str(), "InstallLocation", kOtherFolder);
    SetText(HKEY_LOCAL_MACHINE, entry.c_str(), "UninstallString", "\"C:\\Other\\Velmorix\\Uninstall.exe\"");
    SetText(HKEY_LOCAL_MACHINE, entry.c_str(), "DisplayName", "Velmorix elsewhere");
    SetText(HKEY_LOCAL_MACHINE, entry.c_str(), "Comments", "not the installer's");
    const ComApartment com(CoInitialize(nullptr));
    const std::string ansiLink = DesktopLink();
    const std::wstring link(ansiLink.begin(), ansiLink.end());
    ASSERT_EQ(CreateShellShortcut(link.c_str(), "C:\\Other\\Velmorix\\Velmorix.exe", kOtherFolder, ""), S_OK);
  }

  // The parts of the machine an installation touches.
  Snapshot Take() const {
    Snapshot snapshot;
    const REGSAM view = View();
    DumpKeyTree(HKEY_LOCAL_MACHINE, texts::kUninstallKeyPath, view, snapshot);
    for (const std::string& key : {std::string(kInstallationRecordKey), std::string(kInstallationRecordKey) + ".Earlier"})
      DumpKeyTree(HKEY_LOCAL_MACHINE, key.c_str(), view, snapshot);
    for (const char* key : {".qzp", "Applications\\Velmorix.exe", "qzl"})
      DumpKeyTree(HKEY_CLASSES_ROOT, key, view, snapshot);
    snapshot["desktop shortcut"] = ReadWholeFile(DesktopLink());
    snapshot["maker folder"] = enginetest::FolderExists(MakerFolder()) ? "there" : "";
    for (const std::string& folder : {installDir_, workDir_}) {
      for (const std::string& file : enginetest::ListFiles(folder))
        snapshot[folder + "\\" + file] = ReadWholeFile(folder + "\\" + file);
    }
    snapshot["work archive's folder"] = enginetest::FolderExists(workDir_ + "\\workdir") ? "there" : "";
    return snapshot;
  }

  // Whether the installation stands whole in its folder.
  void ExpectInstalled() const {
    EXPECT_EQ(ReadStoredValue(HKEY_LOCAL_MACHINE, texts::kUninstallKeyPath, "InstallLocation", View()).bytes,
              Terminated(installDir_));
    EXPECT_EQ(ReadStoredValue(HKEY_CLASSES_ROOT, ".qzp", "", View()).bytes, Terminated("VELMORIX.qzp"));
    const ComApartment com(CoInitialize(nullptr));
    const std::string program = installDir_ + "\\Velmorix.exe";
    for (const std::string& link : {DesktopLink(), MakerFolder() + "\\Velmorix.lnk"})
      EXPECT_EQ(CheckProgramShortcut(link.c_str(), program.c_str()).outcome, Removal::Removed) << link;
    EXPECT_EQ(ReadWholeFile(installDir_ + "\\workpath"), workDir_);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kInstallationRecordKey, View()));
  }

  void Clear() {
    RemoveUninstallEntryKey(View());
    RemoveAssociationKeys(View());
    DeleteFileA(DesktopLink().c_str());
    enginetest::DeleteTree(MakerFolder());
    enginetest::DeleteTree(installDir_);
    enginetest::DeleteTree(workDir_);
  }

 private:
  TempFolder root_;
  std::string installDir_;
  std::string workDir_;
};

// A fresh installation with both shortcuts into the scene's folders.
std::unique_ptr<enginetest::TestRun> FreshInstallation(const Scene& scene) {
  auto state = std::make_unique<enginetest::TestRun>();
  state->request.is64BitWindows = View() != 0 ? 1 : 0;
  CopyPath(state->request.installDir, scene.InstallDir().c_str());
  CopyPath(state->request.workDir, scene.WorkDir().c_str());
  return state;
}

class InstallUndoTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(module_.Loaded()); }
  void TearDown() override {
    for (const char* key : {"VelmorixInstallation", "VelmorixInstallation.Earlier"})
      DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software", key, View());
  }

  // Runs the worker as the progress page does and, once it failed, undoes the run.
  bool RunAndUndo(enginetest::TestRun& state) {
    state.request.progress = &progress_;
    enginetest::PumpedThread worker([&state] { return InstallWorker(&state.job); });
    worker.Start();
    EXPECT_TRUE(worker.Finish());
    const bool succeeded = state.installSucceeded.load();
    if (succeeded) {
      CommitRun(state.Run());
    } else {
      UndoRun(state.Run());
    }
    return succeeded;
  }

  std::vector<std::string> TakenBack() const {
    std::vector<std::string> steps;
    for (const ProgressEvent& e : progress_.Events())
      if (e.kind == ProgressEvent::TakenBack) steps.push_back(e.text);
    return steps;
  }

  const std::vector<unsigned char> program_ = BuildArchive(kProgram);
  const std::vector<unsigned char> work_ = BuildArchive(kWork);
  enginetest::PayloadModule module_{&program_, &work_};
  enginetest::RecordingProgress progress_;
  Scene scene_;
};

TEST_F(InstallUndoTest, AFailureAfterTheFilesOrACancelTakesBackEveryIntegrationStep) {
  const std::string desktop = scene_.DesktopLink();
  const std::string startMenu = scene_.MakerFolder() + "\\Velmorix.lnk";
  const std::string entry = std::string("uninstall entry removed: HKLM\\") + texts::kUninstallKeyPath;
  const std::vector<std::string> everyStep = {"file type association removed: .qzp", entry,
                                              "shortcut removed: " + startMenu, "shortcut removed: " + desktop};
  // How each run is made to fail: a class key that takes no lasting subkeys (the
  // association fails half written), a record key that stands and takes none (the
  // record cannot be saved; the one found is put back as it was), a cancel in the work archive (the integration runs all the same), the
  // same over an earlier desktop shortcut of 40 KiB (kept whole for the undo), and an
  // earlier file of 2 MiB there, too large to keep (no desktop shortcut replaces it).
  for (const std::string failure : {"association", "record", "cancel", "cancel, 40 KiB", "2 MiB"}) {
    SCOPED_TRACE(failure);
    scene_.Set();
    if (failure == "association") SetText(HKEY_CLASSES_ROOT, "qzl", nullptr, nullptr, REG_OPTION_VOLATILE);
    if (failure == "record") SetText(HKEY_LOCAL_MACHINE, kInstallationRecordKey, nullptr, nullptr, REG_OPTION_VOLATILE);
    const std::size_t padding = failure == "cancel, 40 KiB" ? 40 * 1024 : failure == "2 MiB" ? 2 * 1024 * 1024 : 0;
    if (padding > 0) {
      ASSERT_TRUE(WriteWholeFile(desktop, ReadWholeFile(desktop) + std::string(padding, 'x')));
    }
    const Snapshot before = scene_.Take();
    auto state = FreshInstallation(scene_);
    progress_.Clear();
    progress_.onEvent = [&](const ProgressEvent& e) {
      if (failure.rfind("cancel", 0) == 0 && e.kind == ProgressEvent::WorkpathWritten) state->cancelRequested = true;
    };
    EXPECT_FALSE(RunAndUndo(*state));
    progress_.onEvent = nullptr;
    EXPECT_EQ(scene_.Take(), before);
    std::vector<std::string> steps = everyStep;
    if (failure == "2 MiB") steps.pop_back();
    if (failure == "record") steps.insert(steps.begin(), "installation record put back: HKLM\\" + std::string(kInstallationRecordKey));
    EXPECT_EQ(TakenBack(), steps);
    DeleteKeyTree(HKEY_CLASSES_ROOT, "", "qzl", View());
    DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software", "VelmorixInstallation", View());
  }
}

// The child's part: a payload module made by the parent, the worker, then the end as
// the progress page makes it.
void RunFreshInstallation(const std::string& root) {
  const HMODULE module = LoadLibraryExA((root + "\\payload.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  SetPayloadModule(module);
  auto state = std::make_unique<enginetest::TestRun>();
  state->request.is64BitWindows = View() != 0 ? 1 : 0;
  CopyPath(state->request.installDir, (root + "\\program").c_str());
  CopyPath(state->request.workDir, (root + "\\work").c_str());
  InstallWorker(&state->job);
  if (state->installSucceeded) {
    CommitRun(state->Run());
  } else {
    UndoRun(state->Run());
  }
  SetPayloadModule(nullptr);
  FreeLibrary(module);
}

TEST(InstallCrash, AFreshInstallationKilledAtAnyStepIsTakenBackWholeOrStandsWhole) {
  char child[MAX_PATH] = {};
  if (GetEnvironmentVariableA(kChildVariable, child, MAX_PATH) > 0) {
    RunFreshInstallation(child);
    return;
  }
  const auto program = BuildArchive(kProgram);
  const auto work = BuildArchive(kWork);
  const enginetest::PayloadModule module(&program, &work);
  ASSERT_TRUE(module.Loaded());
  Scene scene;
  ASSERT_TRUE(CopyFileA(module.Path().c_str(), (scene.Root() + "\\payload.exe").c_str(), FALSE));
  Snapshot before;
  const enginetest::KillTally tally = enginetest::KillAtEveryStep(
      "InstallCrash.*", kChildVariable, scene.Root(), 299,
      [&] {
        scene.Set();
        before = scene.Take();
      },
      [&] { scene.ExpectInstalled(); },
      [&] {
        EXPECT_NE(RecoverInterruptedRun(View() != 0, nullptr), RunStart::Busy);
        const bool undone = scene.Take() == before;
        if (!undone) scene.ExpectInstalled();
        EXPECT_EQ(RecoverInterruptedRun(View() != 0, nullptr), RunStart::Free);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software", "VelmorixInstallation", View());
        return undone;
      });
  // Every step was a place to kill it: the files', the workpath file's, each
  // integration step's record, the installation record's, the mark and the clean-up.
  EXPECT_GT(tally.undone, 15);
  EXPECT_GT(tally.finished, 0);
}

}  // namespace
