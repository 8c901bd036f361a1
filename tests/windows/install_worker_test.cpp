#include "engine/install_worker.h"
#include "engine/run_outcome.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "shared/command_line.h"
#include "wizard/unattended_install.h"
#include "shared/folder_creation.h"
#include "engine_test_support.h"
#include "payload_module.h"
#include "support/registry.h"
#include "shared/platform.h"
#include "shared/raii.h"
#include "shared/texts.h"

using namespace enginetest;

namespace {


int CountItems(const std::string& folder) {
  int count = 0;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    ++count;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) count += CountItems(folder + "\\" + name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return count;
}

std::vector<std::string> g_grantedFolders;
void RecordGrantedFolder(const char* path, const SECURITY_ATTRIBUTES* attributes) {
  if (attributes != nullptr && attributes->lpSecurityDescriptor != nullptr) g_grantedFolders.push_back(path);
}

const std::vector<TestEntry> kProgramEntries = {
    {"D:\\Build\\bin\\Velmorix.exe", "\\", Pattern(2500, 1)},
    {"D:\\Build\\bin\\platforms\\display.dll", "\\platforms\\", Pattern(700, 2)},
};
const std::vector<TestEntry> kWorkEntries = {
    {"D:\\Build\\work\\workdir\\settings", "\\workdir\\", "key=value"},
    {"D:\\Build\\work\\workdir\\packages\\p1\\data.qzp", "\\workdir\\packages\\p1\\", Pattern(1500, 3)},
};

// Removes the uninstall entry and the association an installation wrote (the test
// prefix holds no installation of its own).
void RemoveRegistration(REGSAM view) {
  RemoveUninstallEntryKey(view);
  RemoveAssociationKeys(view);
}

// The install folder is the scene's scratch folder.
class InstallWorkerTest : public enginetest::RunScene {
 protected:
  void SetUp() override {
    RunScene::SetUp();
    ASSERT_FALSE(workDir_.Path().empty());
    state_->request.mode = RunMode::RunOnly;
    CopyPath(state_->request.installDir, dest_.Path().c_str());
    CopyPath(state_->request.workDir, dest_.Path().c_str());
    progress_.onEvent = [this](const ProgressEvent& e) {
      if (e.kind != ProgressEvent::Finished) return;
      ++doneNotices_;
      succeededAtNotice_ = state_->installSucceeded.load();
      runningAtNotice_ = state_->workerRunning.load();
    };
  }

  // Runs the worker on its own thread; true when it returned 1.
  bool RunWorker() {
    enginetest::PumpedThread worker([this] { return InstallWorker(&state_->job); });
    worker.Start();
    EXPECT_TRUE(worker.Finish());
    return worker.ExitCode() == 1;
  }

  // Runs the worker on both archives of the test payload; true when it returned 1.
  bool RunWithTheTestPayload() {
    const auto program = BuildArchive(kProgramEntries);
    const auto work = BuildArchive(kWorkEntries);
    PayloadModule module(&program, &work);
    EXPECT_TRUE(module.Loaded());
    return module.Loaded() && RunWorker();
  }

  // The worker ended as the page expects: result stored, then not running, then one
  // end report, the last of all.
  void ExpectEndNotice(bool succeeded) {
    EXPECT_EQ(doneNotices_, 1);
    EXPECT_EQ(succeededAtNotice_, succeeded);
    EXPECT_FALSE(runningAtNotice_);
    const std::vector<ProgressEvent> events = progress_.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().kind, ProgressEvent::Finished);
    EXPECT_EQ(events.back().value, succeeded ? 1 : 0);
  }

  TempFolder workDir_;
  int doneNotices_ = 0;
  bool succeededAtNotice_ = false;
  bool runningAtNotice_ = true;
};

TEST_F(InstallWorkerTest, RunModeUnpacksBothArchivesIntoOneFolder) {
  g_grantedFolders.clear();
  const FolderObserver previous = ObserveFolderCreation(&RecordGrantedFolder);
  EXPECT_TRUE(RunWithTheTestPayload());
  ObserveFolderCreation(previous);

  EXPECT_STREQ(state_->ErrorText(), "");
  ExpectEndNotice(true);
  EXPECT_EQ(ReadWholeFile(dest_ / "Velmorix.exe"), kProgramEntries[0].data);
  EXPECT_EQ(ReadWholeFile(dest_ / "platforms\\display.dll"), kProgramEntries[1].data);
  EXPECT_EQ(ReadWholeFile(dest_ / "workdir\\packages\\p1\\data.qzp"), kWorkEntries[1].data);
  EXPECT_EQ(ReadWholeFile(dest_ / "workpath"), dest_.Path());
  EXPECT_EQ(state_->record->createdFileCount, 5);  // the workpath file among them

  // Only the work archive's new folders get the Users entry.
  ASSERT_EQ(g_grantedFolders.size(), 3u);
  for (const std::string& folder : g_grantedFolders) EXPECT_NE(folder.find("\\workdir"), std::string::npos);

  // The total counts both archives and comes before the first file.
  const std::vector<ProgressEvent> events = progress_.Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events[0].kind, ProgressEvent::Begin);
  EXPECT_EQ(events[0].value, 4);
  EXPECT_EQ(progress_.Values(ProgressEvent::FilesDone), (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(InstallWorkerTest, RepairModeKeepsProgramAndWorkFoldersApart) {
  state_->request.mode = RunMode::Reinstall;
  CopyPath(state_->request.workDir, workDir_.Path().c_str());
  EXPECT_TRUE(RunWithTheTestPayload());
  ExpectEndNotice(true);
  EXPECT_TRUE(FileExists(dest_ / "Velmorix.exe"));
  EXPECT_EQ(ReadWholeFile(workDir_ / "workdir\\settings"), "key=value");
  EXPECT_EQ(ReadWholeFile(dest_ / "workpath"), workDir_.Path());
  EXPECT_FALSE(FileExists(workDir_ / "workpath"));
  EXPECT_EQ(CountItems(dest_.Path()), 4);  // two files, platforms, workpath
}

TEST_F(InstallWorkerTest, DamagedOrOversizedPayloadWritesNothing) {
  const auto program = BuildArchive(kProgramEntries);
  const auto work = BuildArchive(kWorkEntries);
  const auto damaged = [] {
    auto bytes = BuildArchive(kWorkEntries);
    bytes.push_back(0);  // a byte after the last entry's data
    return bytes;
  }();
  std::vector<TestEntry> many(kMaxCreatedFiles - 1, TestEntry{"f", "\\", ""});
  const auto tooMany = BuildArchive(many);  // with the program archive: 1001 files
  // The checksums: a sum that does not match a sound archive (a byte changed in
  // transit), or no resource 111 at all.
  const struct {
    const std::vector<unsigned char>* work;
    Sums sums;
  } cases[] = {{&damaged, Sums::Matching}, {&tooMany, Sums::Matching}, {&work, Sums::Wrong}, {&work, Sums::Missing}};

  for (const auto& payloadCase : cases) {
    PayloadModule module(&program, payloadCase.work, payloadCase.sums);
    ASSERT_TRUE(module.Loaded());
    progress_.Clear();
    doneNotices_ = 0;
    EXPECT_TRUE(RunWorker());
    EXPECT_STREQ(state_->ErrorText(), texts::kResourceLoadFailed);
    ExpectEndNotice(false);
    EXPECT_EQ(progress_.Events().size(), 1u);  // nothing before the end report
    EXPECT_EQ(CountItems(dest_.Path()), 0);
    EXPECT_EQ(state_->record->createdFileCount, 0);
  }
}

TEST_F(InstallWorkerTest, MissingResourcesAreReported) {
  const auto program = BuildArchive(kProgramEntries);
  PayloadModule module(&program, nullptr);  // the work archive is missing
  ASSERT_TRUE(module.Loaded());
  EXPECT_TRUE(RunWorker());
  EXPECT_STREQ(state_->ErrorText(), texts::kResourceMissing);
  ExpectEndNotice(false);
  EXPECT_EQ(CountItems(dest_.Path()), 0);
}

TEST_F(InstallWorkerTest, AFailedProgramArchiveSkipsTheWorkpathFileAndTheWorkArchive) {
  CopyPath(state_->request.workDir, workDir_.Path().c_str());
  ASSERT_TRUE(CreateDirectoryA((dest_ / "platforms").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((dest_ / "platforms\\display.dll").c_str(), nullptr));
  EXPECT_TRUE(RunWithTheTestPayload());
  EXPECT_STREQ(state_->ErrorText(), texts::kInstallFilesFailed);
  ExpectEndNotice(false);
  EXPECT_FALSE(FileExists(dest_ / "workpath"));
  EXPECT_EQ(CountItems(workDir_.Path()), 0);
  EXPECT_EQ(progress_.Values(ProgressEvent::Begin), std::vector<int>{4});  // the total still counts both
}

TEST_F(InstallWorkerTest, AWorkpathFileThatCannotBeWrittenFailsTheRunBeforeAnythingIsWritten) {
  CopyPath(state_->request.workDir, workDir_.Path().c_str());
  ASSERT_TRUE(CreateDirectoryA((dest_ / "workpath").c_str(), nullptr));
  EXPECT_TRUE(RunWithTheTestPayload());
  EXPECT_STREQ(state_->ErrorText(), texts::kInstallFilesFailed);
  ExpectEndNotice(false);
  // Every destination is checked first: no program file was written either.
  EXPECT_EQ(state_->record->createdFileCount, 0);
  EXPECT_EQ(CountItems(dest_.Path()), 1);  // the folder standing at workpath
  EXPECT_EQ(CountItems(workDir_.Path()), 0);
}

TEST_F(InstallWorkerTest, InstallModeTiesTheProgramIntoWindowsAfterUnpacking) {
  state_->request.mode = RunMode::Install;
  state_->request.makeDesktopShortcut = 0;
  state_->request.makeStartMenuShortcut = 0;
  state_->request.is64BitWindows = Detect64BitWindows() ? 1 : 0;
  CopyPath(state_->request.workDir, workDir_.Path().c_str());
  const REGSAM view = state_->request.is64BitWindows ? KEY_WOW64_64KEY : 0;
  EXPECT_TRUE(RunWithTheTestPayload());

  char location[MAX_PATH] = {};
  {
    UniqueKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, texts::kUninstallKeyPath, 0, KEY_READ | view, key.Receive()) ==
        ERROR_SUCCESS) {
      DWORD size = sizeof(location) - 1;
      RegQueryValueExA(key.Get(), texts::kInstallLocationValue, nullptr, nullptr, reinterpret_cast<BYTE*>(location),
                       &size);
    }
  }
  RemoveRegistration(view);

  EXPECT_STREQ(state_->ErrorText(), "");
  ExpectEndNotice(true);
  EXPECT_EQ(std::string(location), dest_.Path());
  EXPECT_TRUE(FileExists(workDir_ / "workdir\\settings"));
}

// The unattended run inside this process, as the entry point runs it for /S: it
// returns how the process is to end instead of ending it.
TEST(UnattendedRun, InstallsAndReturnsItsEndOrUndoesAFailureAndSaysSo) {
  TempFolder scratch;
  CommandLineOptions options;
  options.mode = StartMode::Unattended;
  options.unattended = true;
  options.noDesktopShortcut = options.noStartMenuShortcut = true;
  CopyPath(options.installDir, (scratch / "program").c_str());
  CopyPath(options.workDir, (scratch / "work").c_str());
  const auto program = BuildArchive(kProgramEntries);
  const auto work = BuildArchive(kWorkEntries);
  const REGSAM view = Detect64BitWindows() ? KEY_WOW64_64KEY : 0;
  {
    PayloadModule module(&program, &work);
    ASSERT_TRUE(module.Loaded());
    auto state = std::make_unique<InstallerState>();
    state->is64BitWindows = view != 0 ? 1 : 0;
    EXPECT_EQ(RunUnattended(*state, options), ProcessEnd::Installed);
    RemoveRegistration(view);
    EXPECT_EQ(ReadWholeFile(scratch / "program\\workpath"), scratch / "work");
    EXPECT_TRUE(FileExists(scratch / "work\\workdir\\settings"));
    EXPECT_TRUE(FileExists(scratch / "program\\platforms\\display.dll"));
  }
  // A damaged payload and a folder behind a link both fail before anything is created.
  CopyPath(options.installDir, (scratch / "again\\program").c_str());
  CopyPath(options.workDir, (scratch / "again\\work").c_str());
  ASSERT_TRUE(CreateDirectoryA((scratch / "elsewhere").c_str(), nullptr));
  ASSERT_TRUE(enginetest::PlantLink(scratch / "elsewhere", scratch / "linked"));
  for (const Sums sums : {Sums::Wrong, Sums::Matching}) {
    if (sums == Sums::Matching) CopyPath(options.workDir, (scratch / "linked\\work").c_str());
    PayloadModule module(&program, &work, sums);
    ASSERT_TRUE(module.Loaded());
    auto state = std::make_unique<InstallerState>();
    EXPECT_EQ(RunUnattended(*state, options), ProcessEnd::InstallFailed);
    EXPECT_EQ(CountItems(scratch / "again"), 0) << (sums == Sums::Wrong ? "damaged" : "linked");
    EXPECT_EQ(CountItems(scratch / "elsewhere"), 0);
  }
  enginetest::RemoveLink(scratch / "linked");
}

}  // namespace
