// A run's file creation on its own: what stands at a name decides whether the new file
// is created, takes an earlier file's place (kept aside), reuses the run's own file, or
// is refused.
#include "engine/run_files.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/run_journal.h"
#include "engine_test_support.h"

using enginetest::ReadWholeFile;
using enginetest::WriteWholeFile;

namespace {

class RunFiles : public enginetest::RunScene {
 protected:
  void SetUp() override {
    RunScene::SetUp();
    ASSERT_TRUE(NormaliseFolder(root_, dest_.Path().c_str()));
    ASSERT_EQ(chain_.Reach(root_, false, 0), WayResult::Held);
    // As in a run: nothing moves aside without its journal.
    ASSERT_TRUE(BeginJournal(state_->Run()));
  }
  void TearDown() override {
    chain_.Release();
    RunScene::TearDown();
  }

  // Makes `name` a new file of the run holding `text`, and records it as created.
  NewFile Create(const std::string& name, const std::string& text = "new") {
    const std::string path = dest_ / name;
    const NewFileTarget target{root_, &chain_, name.c_str(), path.c_str(), kNoPlannedKeep};
    UniqueHandle file;
    FileIdentity identity;
    const NewFile placed = CreateRunFile(state_->Run(), target, &file, &identity);
    if (placed == NewFile::Refused) return placed;
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    if (placed != NewFile::Reused) {
      EXPECT_TRUE(RecordCreatedFile(state_->Run(), path.c_str(), identity));
    }
    return placed;
  }

  FolderChain chain_;
  char root_[kPathCapacity] = {};
};

TEST_F(RunFiles, ANewNameIsCreatedAnEarlierFileKeptAsideAndTheRunsOwnFileReused) {
  EXPECT_EQ(Create("new.bin"), NewFile::Created);
  EXPECT_EQ(state_->record->keptFileCount, 0);

  ASSERT_TRUE(WriteWholeFile(dest_ / "old.bin", "earlier"));
  EXPECT_EQ(Create("OLD.BIN"), NewFile::Replaced) << "names compare as Windows compares them";
  ASSERT_EQ(state_->record->keptFileCount, 1);
  char kept[kPathCapacity];
  ASSERT_TRUE(KeptFilePath(state_->Run(), 0, kept));
  EXPECT_EQ(ReadWholeFile(kept), "earlier");
  EXPECT_EQ(ReadWholeFile(dest_ / "old.bin"), "new");

  // The run writes its own file again (an archive that lists it twice): emptied first.
  EXPECT_EQ(Create("new.bin", "again"), NewFile::Reused);
  EXPECT_EQ(ReadWholeFile(dest_ / "new.bin"), "again");
  EXPECT_EQ(state_->record->createdFileCount, 2);
}

TEST_F(RunFiles, AFolderAtTheNameAndASecondNameOfTheRunsOwnFileAreRefused) {
  ASSERT_TRUE(CreateDirectoryA((dest_ / "folder.bin").c_str(), nullptr));
  EXPECT_EQ(Create("folder.bin"), NewFile::Refused);

  EXPECT_EQ(Create("own.bin", "program"), NewFile::Created);
  ASSERT_TRUE(CreateHardLinkA((dest_ / "second.bin").c_str(), (dest_ / "own.bin").c_str(), nullptr));
  EXPECT_EQ(Create("second.bin"), NewFile::Refused);
  EXPECT_EQ(Create("own.bin"), NewFile::Refused) << "emptying it would empty its second name too";
  EXPECT_EQ(ReadWholeFile(dest_ / "own.bin"), "program");
}

}  // namespace
