// Work relative to held folders: what a held folder withstands, what is refused at a
// name, and renames and deletions by handle.
#include "shared/held_folder.h"

#include <gtest/gtest.h>

#include <string>

#include "engine_test_support.h"
#include "shared/file_identity.h"

using enginetest::ReadWholeFile;
using enginetest::TempFolder;
using enginetest::WriteWholeFile;

namespace {

class HeldFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(root_.Path().empty());
    ASSERT_TRUE(CreateDirectoryA((root_ / "a").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((root_ / "b").c_str(), nullptr));
    parent_.Reset(CreateFileA(root_.Path().c_str(), kHeldFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(parent_);
  }

  TempFolder root_;
  UniqueHandle parent_;
};

TEST_F(HeldFolder, AHeldFolderCannotBeRenamedOrDeletedUntilItIsReleased) {
  UniqueHandle held;
  ASSERT_EQ(OpenChildFolder(parent_.Get(), "a", 0, &held), ChildResult::Done);
  EXPECT_FALSE(MoveFileA((root_ / "a").c_str(), (root_ / "moved").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(RemoveDirectoryA((root_ / "a").c_str()));
  // Work inside it goes on: a file is created and found relative to the handle.
  UniqueHandle file;
  ASSERT_EQ(CreateChildFile(held.Get(), "f.txt", &file), ChildResult::Done);
  file.Reset();
  EXPECT_TRUE(enginetest::FileExists(root_ / "a\\f.txt"));
  held.Reset();
  EXPECT_TRUE(MoveFileA((root_ / "a").c_str(), (root_ / "moved").c_str()));
}

TEST_F(HeldFolder, ALinkAFileOrNothingAtAFoldersNameIsToldApart) {
  TempFolder outside;
  ASSERT_TRUE(enginetest::PlantLink(outside.Path(), root_ / "link"));
  ASSERT_TRUE(WriteWholeFile(root_ / "file", "x"));
  UniqueHandle folder;
  EXPECT_EQ(OpenChildFolder(parent_.Get(), "link", 0, &folder), ChildResult::Link);
  EXPECT_FALSE(folder);
  EXPECT_EQ(OpenChildFolder(parent_.Get(), "file", 0, &folder), ChildResult::NotAFolder);
  EXPECT_EQ(OpenChildFolder(parent_.Get(), "none", 0, &folder), ChildResult::Missing);
  // Another volume than the one asked for counts as a link: something is mounted there.
  FileIdentity identity;
  ASSERT_TRUE(ReadIdentity(parent_.Get(), &identity));
  EXPECT_EQ(OpenChildFolder(parent_.Get(), "b", identity.volumeSerial + 1, &folder), ChildResult::Link);
  EXPECT_EQ(OpenChildFolder(parent_.Get(), "b", identity.volumeSerial, &folder), ChildResult::Done);
  EXPECT_EQ(OpenChildFolder(parent_.Get(), "a\\..\\b", 0, &folder), ChildResult::Failed) << "one component only";
  EXPECT_EQ(CreateChildFolder(parent_.Get(), "b", nullptr, 0, &folder), ChildResult::Exists);
  // Looked up as a file's place: the name as spelt on disk, whatever the case asked.
  ASSERT_TRUE(WriteWholeFile(root_ / "MixedCase.TXT", "m"));
  char actual[MAX_PATH] = {};
  EXPECT_EQ(FindChildFile(parent_.Get(), "mixedcase.txt", actual), ChildResult::Done);
  EXPECT_STREQ(actual, "MixedCase.TXT");
  EXPECT_EQ(FindChildFile(parent_.Get(), "link", actual), ChildResult::Link);
  EXPECT_EQ(FindChildFile(parent_.Get(), "b", actual), ChildResult::Exists);
  EXPECT_EQ(FindChildFile(parent_.Get(), "none", actual), ChildResult::Missing);
  EXPECT_TRUE(enginetest::RemoveLink(root_ / "link"));
}

TEST_F(HeldFolder, FilesAreCreatedOnlyWhereNothingStandsAndNeverThroughALink) {
  UniqueHandle file;
  ASSERT_EQ(CreateChildFile(parent_.Get(), "new.bin", &file), ChildResult::Done);
  EXPECT_EQ(LinkCount(file.Get()), 1u);
  file.Reset();
  EXPECT_EQ(CreateChildFile(parent_.Get(), "new.bin", &file), ChildResult::Exists);
  EXPECT_EQ(CreateChildFile(parent_.Get(), "a", &file), ChildResult::Exists);
  // A link whose target does not exist yet: creating through it would make the target.
  TempFolder outside;
  ASSERT_TRUE(WriteWholeFile(outside / "target", "t"));
  ASSERT_TRUE(enginetest::PlantLink(outside / "target", root_ / "dangling"));
  ASSERT_TRUE(DeleteFileA((outside / "target").c_str()));
  EXPECT_NE(CreateChildFile(parent_.Get(), "dangling", &file), ChildResult::Done);
  EXPECT_FALSE(enginetest::FileExists(outside / "target"));
  EXPECT_TRUE(enginetest::RemoveLink(root_ / "dangling"));
  // A second name of a file shows in its link count.
  ASSERT_TRUE(CreateHardLinkA((root_ / "second.bin").c_str(), (root_ / "new.bin").c_str(), nullptr));
  ASSERT_EQ(OpenChild(parent_.Get(), "new.bin", 0, &file), ChildResult::Done);
  EXPECT_EQ(LinkCount(file.Get()), 2u);
}

TEST_F(HeldFolder, RenamesAndDeletionsGoByHandleAndNeverReplace) {
  ASSERT_TRUE(WriteWholeFile(root_ / "a\\moving", "moving"));
  ASSERT_TRUE(WriteWholeFile(root_ / "b\\taken", "taken"));
  UniqueHandle a;
  UniqueHandle b;
  ASSERT_EQ(OpenChildFolder(parent_.Get(), "a", 0, &a), ChildResult::Done);
  ASSERT_EQ(OpenChildFolder(parent_.Get(), "b", 0, &b), ChildResult::Done);
  UniqueHandle file;
  ASSERT_EQ(OpenChild(a.Get(), "moving", 0, &file), ChildResult::Done);
  EXPECT_FALSE(RenameInto(file.Get(), b.Get(), "taken"));
  EXPECT_EQ(ReadWholeFile(root_ / "b\\taken"), "taken");
  ASSERT_TRUE(RenameInto(file.Get(), b.Get(), "arrived"));
  file.Reset();
  EXPECT_EQ(ReadWholeFile(root_ / "b\\arrived"), "moving");
  EXPECT_FALSE(enginetest::FileExists(root_ / "a\\moving"));
  // A read-only file is deleted all the same; a folder with something in it is not.
  ASSERT_TRUE(SetFileAttributesA((root_ / "b\\arrived").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_EQ(OpenChild(b.Get(), "arrived", 0, &file), ChildResult::Done);
  EXPECT_TRUE(DeleteOpen(file.Get()));
  file.Reset();
  EXPECT_FALSE(enginetest::FileExists(root_ / "b\\arrived"));
  b.Reset();
  UniqueHandle folder;
  ASSERT_EQ(OpenChild(parent_.Get(), "b", kHeldFolderAccess, &folder), ChildResult::Done);
  EXPECT_FALSE(DeleteOpen(folder.Get()));
  EXPECT_EQ(OpenChild(parent_.Get(), "gone", 0, &folder), ChildResult::Missing);
}

// A file held open without deletion shared is waited for while its holder lets go
// soon, and refused with a sharing violation while it holds on.
TEST_F(HeldFolder, AFileToMoveIsWaitedForWhileAnotherProgramHoldsItAMoment) {
  ASSERT_TRUE(WriteWholeFile(root_ / "a\\held", "held"));
  UniqueHandle a;
  ASSERT_EQ(OpenChildFolder(parent_.Get(), "a", 0, &a), ChildResult::Done);
  UniqueHandle file;
  {
    enginetest::BriefHold hold(root_ / "a\\held", 3000);
    ASSERT_TRUE(hold.Held());
    const DWORD start = GetTickCount();
    EXPECT_EQ(OpenChildToMove(a.Get(), "held", &file), ChildResult::Failed);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_GE(GetTickCount() - start, 1500u) << "given up without waiting";
  }
  enginetest::BriefHold hold(root_ / "a\\held", 300);
  ASSERT_TRUE(hold.Held());
  EXPECT_EQ(OpenChildToMove(a.Get(), "held", &file), ChildResult::Done);
  EXPECT_TRUE(hold.Released());
  EXPECT_EQ(OpenChildToMove(a.Get(), "missing", &file), ChildResult::Missing);
}

}  // namespace
