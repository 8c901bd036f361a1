// The one walk down a path's folders: what it creates and holds, what it refuses on
// the way, and paths it cannot take.
#include "shared/folder_walk.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_test_support.h"
#include "shared/folder_creation.h"

using enginetest::FolderExists;
using enginetest::TempFolder;

namespace {

// Every folder the walk reports, is about to create and has created, in order.
struct WalkLog : ProgressReport, FolderRecorder {
  void FolderCreated(const char* path) override { events.push_back("reported " + std::string(path)); }
  bool WillCreate(const char* path) override {
    events.push_back("will create " + std::string(path));
    return true;
  }
  bool Created(const char* path, HANDLE folder) override {
    events.push_back(std::string(folder != nullptr ? "created " : "created unheld ") + path);
    return true;
  }
  std::vector<std::string> events;
};

int g_creations = 0;
void CountCreation() { ++g_creations; }

class FolderWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(root_.Path().empty());
    g_creations = 0;
  }
  TempFolder root_;
};

TEST_F(FolderWalkTest, CreatesADeepPathAndHoldsEveryFolderOnIt) {
  FolderWalk walk(&CountCreation);
  WalkLog log;
  const std::string deep = root_ / "A\\B\\C";
  ASSERT_EQ(walk.Reach(deep.c_str(), true, 0, &log, &log), WayResult::Held);
  EXPECT_EQ(g_creations, 3);
  EXPECT_EQ(walk.Reached(), deep.size());
  const std::vector<std::string> expected = {
      "will create " + root_ / "A",     "reported " + root_ / "A",     "created " + root_ / "A",
      "will create " + root_ / "A\\B",  "reported " + root_ / "A\\B",  "created " + root_ / "A\\B",
      "will create " + deep,            "reported " + deep,            "created " + deep};
  EXPECT_EQ(log.events, expected);
  EXPECT_TRUE(FolderExists(deep));
  ASSERT_NE(walk.End(), nullptr);
  // Held, no folder on the way can be renamed (and a link put in its place).
  for (const std::string& folder : {root_ / "A", root_ / "A\\B", deep}) {
    EXPECT_FALSE(MoveFileA(folder.c_str(), (folder + "-moved").c_str())) << folder;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << folder;
  }
  // Work goes on inside the end.
  UniqueHandle file;
  EXPECT_EQ(CreateChildFile(walk.End(), "inside.txt", &file), ChildResult::Done);
  file.Reset();
  EXPECT_TRUE(enginetest::FileExists(deep + "\\inside.txt"));
  walk.Release();
  EXPECT_TRUE(MoveFileA((root_ / "A").c_str(), (root_ / "A-moved").c_str())) << "released, the folders are free";
}

TEST_F(FolderWalkTest, AnExistingPathIsHeldAsItIsWhateverItsSpelling) {
  ASSERT_TRUE(CreateDirectoryA((root_ / "Old").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((root_ / "Old\\Sub").c_str(), nullptr));
  FolderWalk walk(&CountCreation);
  WalkLog log;
  EXPECT_EQ(walk.Reach((root_ / "Old\\Sub").c_str(), true, 1, &log, &log), WayResult::Held);
  EXPECT_EQ(walk.Reach((root_ / "OLD\\sub").c_str(), false, 0), WayResult::Held);
  EXPECT_EQ(walk.Reach((root_ / "Old\\\\Sub").c_str(), false, 0), WayResult::Held) << "a doubled separator";
  EXPECT_EQ(g_creations, 0);
  EXPECT_TRUE(log.events.empty());
  // Not asked to create, the walk stops at the first missing folder.
  const std::string missing = root_ / "Old\\None";
  EXPECT_EQ(walk.Reach((missing + "\\Deeper").c_str(), false, 0), WayResult::Missing);
  EXPECT_EQ(walk.Reached(), missing.size());
  EXPECT_FALSE(FolderExists(missing));
  // The volume's root alone is a way too.
  EXPECT_EQ(walk.Reach(root_.Path().substr(0, 3).c_str(), false, 0), WayResult::Held);
  EXPECT_NE(walk.End(), nullptr);
}

TEST_F(FolderWalkTest, ALinkOrAFileOnTheWayIsRefusedAndNothingIsCreatedBehindIt) {
  const std::string real = root_ / "real";
  ASSERT_TRUE(CreateDirectoryA(real.c_str(), nullptr));
  ASSERT_TRUE(enginetest::PlantLink(real, root_ / "link"));
  ASSERT_TRUE(enginetest::WriteWholeFile(root_ / "file", "x"));
  FolderWalk walk(&CountCreation);
  WalkLog log;
  EXPECT_EQ(walk.Reach((root_ / "link\\made").c_str(), true, 0, &log, &log), WayResult::Link);
  EXPECT_EQ(walk.Reach((root_ / "link").c_str(), false, 0), WayResult::Link);
  EXPECT_EQ(walk.Reach((root_ / "file\\made").c_str(), true, 0, &log, &log), WayResult::NotAFolder);
  EXPECT_EQ(walk.Reached(), (root_ / "file").size());
  EXPECT_EQ(g_creations, 0);
  EXPECT_TRUE(log.events.empty());
  EXPECT_TRUE(enginetest::ListFiles(real).empty());

  // The check the pages make before they create a folder.
  EXPECT_TRUE(PassesThroughLink((root_ / "link\\made\\deeper").c_str()));
  EXPECT_TRUE(PassesThroughLink((root_ / "link/").c_str()));
  EXPECT_FALSE(PassesThroughLink((root_ / "real\\not yet").c_str()));
  EXPECT_FALSE(PassesThroughLink((root_ / "file\\made").c_str()));
  EXPECT_TRUE(enginetest::RemoveLink(root_ / "link"));
}

TEST_F(FolderWalkTest, APathThatDoesNotFitOrHasNoRootIsNoWay) {
  const std::string overlong = root_ / std::string(kPathCapacity, 'x');
  FolderWalk walk(&CountCreation);
  EXPECT_EQ(walk.Reach(overlong.c_str(), true, 0), WayResult::CreateFailed);
  EXPECT_EQ(walk.Reach((root_ / std::string(kPathCapacity - root_.Path().size() - 1, 'x')).c_str(), true, 0),
            WayResult::CreateFailed)
      << "just one byte too long";
  EXPECT_EQ(walk.Reach("Relative\\Folder", true, 0), WayResult::CreateFailed);
  EXPECT_EQ(walk.Reach("", true, 0), WayResult::CreateFailed);
  EXPECT_EQ(walk.End(), nullptr);
  EXPECT_EQ(g_creations, 0);
  EXPECT_TRUE(PassesThroughLink(overlong.c_str())) << "what cannot be checked counts as a link";

  char normalised[kPathCapacity];
  EXPECT_FALSE(NormaliseFolder(normalised, overlong.c_str()));
  EXPECT_FALSE(NormaliseFolder(normalised, "\\/\\"));
  ASSERT_TRUE(NormaliseFolder(normalised, "C:/a\\b//"));
  EXPECT_STREQ(normalised, "C:\\a\\b");
}

}  // namespace
