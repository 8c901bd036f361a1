// The installation's record and its removal, against the real Wine registry and
// file system, in a scratch folder.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/installation_record.h"
#include "engine/installation_removal.h"
#include "integration/file_association.h"
#include "shared/platform.h"
#include "support/registry.h"
#include "windows/engine_test_support.h"

namespace {

using enginetest::FileExists;
using enginetest::FolderExists;
using enginetest::ReadWholeFile;
using enginetest::WriteWholeFile;

constexpr char kChildVariable[] = "VELMORIX_REMOVAL_CHILD_SCRATCH";

// A finished run of two program files and two work files in a scratch folder. A child
// run of the crash case (kChildVariable set) sets up nothing: it removes the parent's.
class RemovalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    is64_ = Detect64BitWindows();
    if (GetEnvironmentVariableA(kChildVariable, nullptr, 0) > 0) return;
    RemoveUninstallEntryKey(is64_ ? KEY_WOW64_64KEY : 0);
    Install();
  }
  void Install() {
    CopyPath(state_->request.installDir, (scratch_ / "program").c_str());
    CopyPath(state_->request.workDir, (scratch_ / "work").c_str());
    state_->request.is64BitWindows = is64_ ? 1 : 0;
    state_->request.mode = RunMode::Reinstall;  // the files alone; the class values have a test of their own
    state_->record->createdFolderCount = 0;
    state_->record->createdFileCount = 0;
    ASSERT_TRUE(CreateDirectoryA(state_->request.installDir, nullptr));
    ASSERT_TRUE(CreateDirectoryA(state_->request.workDir, nullptr));
    ASSERT_TRUE(CreateDirectoryA((scratch_ / "work\\data").c_str(), nullptr));
    PreRunFolders().FolderCreated(state_->request.installDir);
    PreRunFolders().FolderCreated(state_->request.workDir);
    CopyPath(state_->record->createdFolders[state_->record->createdFolderCount++], (scratch_ / "work\\data").c_str());
    for (const auto& [path, content] : files_) {
      ASSERT_TRUE(WriteWholeFile(scratch_ / path, content));
      CopyPath(state_->record->createdFiles[state_->record->createdFileCount++], (scratch_ / path).c_str());
    }
  }
  void TearDown() override { RemoveUninstallEntryKey(is64_ ? KEY_WOW64_64KEY : 0); }

  bool Load() { return LoadInstallationRecord(is64_, *record_); }
  bool SaveAndLoad() { return SaveInstallationRecord(state_->Run()) && Load(); }
  // The file association registered over another program's .qzp value ("Earlier.qzp"),
  // and the record saved.
  void InstallWithClass(REGSAM view) {
    RemoveAssociationKeys(view);
    ASSERT_TRUE(WriteStringValue(HKEY_CLASSES_ROOT, ".qzp", "", "Earlier.qzp", view));
    state_->request.mode = RunMode::Install;
    NoteRegistryBeforeIntegration(state_->Run());
    ASSERT_TRUE(
        RegisterFileAssociation(state_->request.is64BitWindows, state_->request.installDir, state_->Run().Progress()));
    ASSERT_TRUE(SaveInstallationRecord(state_->Run()));
  }
  RemovalEnd Remove(bool removeData) {
    RemovalOptions options;
    options.is64BitWindows = is64_;
    options.removeData = removeData;
    return RemoveInstallation(*record_, options);
  }
  void ExpectAllFilesAsInstalled() {
    for (const auto& [path, content] : files_) EXPECT_EQ(ReadWholeFile(scratch_ / path), content) << path;
  }

  bool is64_ = false;
  enginetest::TempFolder scratch_;
  std::unique_ptr<enginetest::TestRun> state_ = std::make_unique<enginetest::TestRun>();
  std::unique_ptr<InstallationRecord> record_ = std::make_unique<InstallationRecord>();
  const std::vector<std::pair<std::string, std::string>> files_ = {
      {"program\\Velmorix.exe", enginetest::Pattern(3000)},
      {"program\\readme.txt", "read me"},
      {"work\\data\\settings", "key=value"},
      {"work\\data\\cache", enginetest::Pattern(500, 7)},
  };
};

TEST_F(RemovalTest, RecordListsEveryFileWithItsKindAndAReinstallationAddsToIt) {
  ASSERT_TRUE(SaveAndLoad());
  EXPECT_STREQ(record_->installDir, state_->request.installDir);
  // The four files and the workpath file, which is listed even when it is absent.
  int work = 0;
  int program = 0;
  for (int i = 0; i < record_->fileCount; ++i) {
    const RecordedFile& file = record_->files[i];
    (file.kind == RecordedFileKind::Work ? work : program)++;
    if (std::string(file.path) == scratch_ / "program\\Velmorix.exe") {
      EXPECT_EQ(file.size, 3000u);
    }
    EXPECT_TRUE(IsUnchanged(file)) << file.path;
  }
  EXPECT_EQ(program, 2);
  EXPECT_EQ(work, 2);
  EXPECT_GE(record_->folderCount, 3);

  // A later run's file joins; the earlier ones stay listed.
  ASSERT_TRUE(WriteWholeFile(scratch_ / "program\\new.dll", "new"));
  state_->record->createdFileCount = 0;
  CopyPath(state_->record->createdFiles[state_->record->createdFileCount++], (scratch_ / "program\\new.dll").c_str());
  ASSERT_TRUE(SaveAndLoad());
  EXPECT_EQ(record_->fileCount, 5);

  // A changed file no longer counts as the installation's.
  ASSERT_TRUE(WriteWholeFile(scratch_ / "work\\data\\settings", "key=other value"));
  EXPECT_EQ(CountFilesToRemove(*record_, false), 4);
  EXPECT_EQ(CountFilesToRemove(*record_, true), 5);
}

TEST_F(RemovalTest, RemovalDeletesWhatIsStillTheInstallationsAndKeepsChangedAndNewData) {
  ASSERT_TRUE(SaveAndLoad());
  ASSERT_TRUE(WriteWholeFile(scratch_ / "work\\data\\settings", "changed by the program"));
  ASSERT_TRUE(WriteWholeFile(scratch_ / "work\\data\\user.txt", "the user's"));
  EXPECT_EQ(Remove(false), RemovalEnd::Removed);
  EXPECT_FALSE(FolderExists(scratch_ / "program"));
  EXPECT_FALSE(FileExists(scratch_ / "work\\data\\cache"));
  EXPECT_EQ(ReadWholeFile(scratch_ / "work\\data\\settings"), "changed by the program");
  EXPECT_EQ(ReadWholeFile(scratch_ / "work\\data\\user.txt"), "the user's");
  EXPECT_TRUE(enginetest::KeepFoldersOnC().empty());
  // The record is gone with the installation: a second removal finds nothing.
  EXPECT_FALSE(Load());
}

TEST_F(RemovalTest, RemoveDataTakesTheWholeWorkFolder) {
  ASSERT_TRUE(SaveAndLoad());
  ASSERT_TRUE(WriteWholeFile(scratch_ / "work\\data\\settings", "changed"));
  ASSERT_TRUE(CreateDirectoryA((scratch_ / "work\\data\\mine").c_str(), nullptr));
  ASSERT_TRUE(WriteWholeFile(scratch_ / "work\\data\\mine\\user.txt", "the user's"));
  EXPECT_EQ(Remove(true), RemovalEnd::Removed);
  EXPECT_FALSE(FolderExists(scratch_ / "work"));
  EXPECT_FALSE(FolderExists(scratch_ / "program"));
}

TEST_F(RemovalTest, AFileThatCannotBeMovedRestoresEverythingAndKeepsTheRecord) {
  ASSERT_TRUE(SaveAndLoad());
  {
    // Held without delete sharing: it cannot be renamed, as by a program that locks it.
    const UniqueHandle held(CreateFileA((scratch_ / "work\\data\\cache").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_EQ(Remove(false), RemovalEnd::Failed);
  }
  ExpectAllFilesAsInstalled();
  EXPECT_TRUE(enginetest::KeepFoldersOnC().empty());
  EXPECT_TRUE(Load());
  // Once nothing holds it the same record removes everything.
  EXPECT_EQ(Remove(false), RemovalEnd::Removed);
  EXPECT_FALSE(FileExists(scratch_ / "work\\data\\cache"));
}

TEST_F(RemovalTest, ACancelPutsEverythingBack) {
  ASSERT_TRUE(SaveAndLoad());
  const std::atomic<bool> cancel{true};
  RemovalOptions options;
  options.is64BitWindows = is64_;
  options.cancel = &cancel;
  EXPECT_EQ(RemoveInstallation(*record_, options), RemovalEnd::Cancelled);
  ExpectAllFilesAsInstalled();
  EXPECT_TRUE(Load());
}

// The class values: put back what they replaced, deleted where nothing stood, left to
// another program that took them over; keys the installation made go once empty.
TEST_F(RemovalTest, ClassValuesAreRestoredOnlyWhileStillTheInstallations) {
  const REGSAM view = is64_ ? KEY_WOW64_64KEY : 0;
  ASSERT_NO_FATAL_FAILURE(InstallWithClass(view));
  ASSERT_TRUE(Load());
  // Another program takes the open command of the class over.
  ASSERT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "qzl\\shell\\open\\command", view));
  ASSERT_TRUE(WriteStringValue(HKEY_CLASSES_ROOT, "qzl\\shell\\open\\command", "", "other.exe", view));

  EXPECT_EQ(Remove(false), RemovalEnd::Removed);
  EXPECT_EQ(ReadStoredValue(HKEY_CLASSES_ROOT, ".qzp", "", view).bytes, Terminated("Earlier.qzp"));
  EXPECT_FALSE(ReadStoredValue(HKEY_CLASSES_ROOT, ".qzp", "Content Type", view).present);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ".qzp\\OpenWithList", view));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Applications\\Velmorix.exe", view));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "qzl\\DefaultIcon", view));
  EXPECT_EQ(ReadStoredValue(HKEY_CLASSES_ROOT, "qzl\\shell\\open\\command", "", view).bytes, Terminated("other.exe"));
  RemoveAssociationKeys(view);
}

}  // namespace

// A removal killed between any two of its steps (the test build's step seam ends the
// child at the step chosen), then recovered as the next start recovers it: either the
// whole installation is back, files byte for byte, record and class value included,
// or (killed once marked done) everything is gone and the class value is what it
// replaced; no keep folder and no journal are left either way.
TEST_F(RemovalTest, ARemovalKilledAtAnyStepIsUndoneOrFinishedByTheNextStart) {
  const REGSAM view = is64_ ? KEY_WOW64_64KEY : 0;
  char child[MAX_PATH] = {};
  if (GetEnvironmentVariableA(kChildVariable, child, MAX_PATH) > 0) {
    ASSERT_TRUE(Load());
    Remove(false);
    return;
  }
  const auto classValue = [&] { return ReadStoredValue(HKEY_CLASSES_ROOT, ".qzp", "", view).bytes; };
  ASSERT_NO_FATAL_FAILURE(InstallWithClass(view));
  const auto written = classValue();
  ASSERT_NE(written, Terminated("Earlier.qzp"));
  const enginetest::KillTally tally = enginetest::KillAtEveryStep(
      "RemovalTest.ARemovalKilled*", kChildVariable, scratch_.Path(), 399,
      [&] {
        if (Load()) return;
        Install();
        InstallWithClass(view);
      },
      [&] { EXPECT_FALSE(Load()); },
      [&] {
        EXPECT_NE(RecoverInterruptedRemoval(is64_), RemovalRecovery::Failed);
        const bool undone = Load();
        if (undone) {
          ExpectAllFilesAsInstalled();
          EXPECT_EQ(classValue(), written);
        } else {
          EXPECT_FALSE(FolderExists(scratch_ / "program"));
          EXPECT_FALSE(FileExists(scratch_ / "work\\data\\cache"));
          EXPECT_EQ(classValue(), Terminated("Earlier.qzp"));
        }
        EXPECT_EQ(RecoverInterruptedRemoval(is64_), RemovalRecovery::None);
        return undone;
      });
  // Each file's journal record and move, the keep folder's, the mark, the class values,
  // each deletion, the folders, the entry and the record were places to kill it.
  EXPECT_GT(tally.undone, 8);
  EXPECT_GT(tally.finished, 4);
  RemoveAssociationKeys(view);
}
