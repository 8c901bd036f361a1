// A run's files on disk: earlier files kept aside and put back or deleted, no file
// created through a link, the checks before the first write, and a killed run's
// journal undone or finished at the next start. (Clean-up through a re-pointed link
// and a folder link on the way: run_safety_e2e_test.cpp.)
#include "engine/run_outcome.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/archive_extraction.h"
#include "engine/run_journal.h"
#include "engine/run_plan.h"
#include "engine_test_support.h"
#include "shared/texts.h"

using namespace enginetest;

namespace {

using Files = std::vector<std::string>;

class RunOutcome : public enginetest::RunScene {
 protected:
  void SetUp() override {
    RunScene::SetUp();
    ASSERT_FALSE(outside_.Path().empty());
  }

  // ExtractArchive on a worker thread, after PrepareRun when `planned` (else with only
  // the journal begun, so every earlier file is found during the extraction).
  bool Run(const std::vector<unsigned char>& bytes, bool planned = false) {
    const ArchiveView view = enginetest::ViewOf(bytes);
    const RunDestinations destinations = enginetest::OneDestination(&view, dest_.Path().c_str());
    return OnWorkerThread([&] {
      return (planned ? PrepareRun(state_->Run(), destinations) : BeginJournal(state_->Run())) &&
             ExtractArchive(state_->Run(), view, dest_.Path().c_str(), 0, false);
    });
  }

  // The earlier installation: one read-only file, one in a sub-folder, one of the user's.
  void PlaceEarlierFiles() {
    ASSERT_TRUE(WriteWholeFile(dest_ / "app.exe", "earlier program"));
    ASSERT_TRUE(SetFileAttributesA((dest_ / "app.exe").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CreateDirectoryA((dest_ / "sub").c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(dest_ / "sub\\data.bin", Pattern(3000, 8)));
    ASSERT_TRUE(WriteWholeFile(dest_ / "sub\\user.txt", "the user's own"));
  }
  const std::vector<TestEntry> kNewFiles = {
      {"D:\\b\\app.exe", "\\", Pattern(2000, 1)},
      {"D:\\b\\sub\\data.bin", "\\sub\\", "new data"},
      {"D:\\b\\sub\\fresh.bin", "\\sub\\", "only in the new payload"},
  };

  TempFolder outside_;
};

TEST_F(RunOutcome, ReplacedFilesAreKeptAsideAndComeBackByteForByteAfterUndo) {
  PlaceEarlierFiles();
  for (bool planned : {false, true}) {
    ASSERT_TRUE(Run(BuildArchive(kNewFiles), planned)) << state_->ErrorText();
    EXPECT_EQ(ReadWholeFile(dest_ / "app.exe"), kNewFiles[0].data);
    EXPECT_EQ(ReadWholeFile(dest_ / "sub\\data.bin"), "new data");
    // Moved, not copied: out of the users' tree into a hidden folder of the run's own
    // at the volume's root, each under a random name.
    EXPECT_EQ(ListFiles(dest_.Path()), (Files{"app.exe", "sub\\data.bin", "sub\\fresh.bin", "sub\\user.txt"}));
    const std::vector<std::string> keep = enginetest::KeepFoldersOnC();
    ASSERT_EQ(keep.size(), 1u);
    EXPECT_TRUE(GetFileAttributesA(keep[0].c_str()) & FILE_ATTRIBUTE_HIDDEN);
    const Files kept = ListFiles(keep[0]);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_NE(kept[0], kept[1]);
    for (const std::string& name : kept) EXPECT_EQ(name.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(kept[0].size(), 16u);

    UndoRun(state_->Run());
    EXPECT_EQ(ListFiles(dest_.Path()), (Files{"app.exe", "sub\\data.bin", "sub\\user.txt"})) << planned;
    EXPECT_EQ(ReadWholeFile(dest_ / "app.exe"), "earlier program");
    EXPECT_EQ(GetFileAttributesA((dest_ / "app.exe").c_str()) & FILE_ATTRIBUTE_READONLY,
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(ReadWholeFile(dest_ / "sub\\data.bin"), Pattern(3000, 8));
    EXPECT_EQ(ReadWholeFile(dest_ / "sub\\user.txt"), "the user's own");
    EXPECT_EQ(state_->record->createdFileCount, 0);
    EXPECT_EQ(enginetest::KeepFoldersOnC(), std::vector<std::string>{});
  }
}

TEST_F(RunOutcome, CommitDeletesOnlyWhatWasKeptAside) {
  PlaceEarlierFiles();
  ASSERT_TRUE(Run(BuildArchive(kNewFiles), true)) << state_->ErrorText();
  CommitRun(state_->Run());
  EXPECT_EQ(ListFiles(dest_.Path()), (Files{"app.exe", "sub\\data.bin", "sub\\fresh.bin", "sub\\user.txt"}));
  EXPECT_EQ(ReadWholeFile(dest_ / "app.exe"), kNewFiles[0].data);
  EXPECT_EQ(ReadWholeFile(dest_ / "sub\\fresh.bin"), "only in the new payload");
  // A second end changes nothing: the run's records are empty.
  UndoRun(state_->Run());
  EXPECT_EQ(ReadWholeFile(dest_ / "sub\\data.bin"), "new data");
}

// A folder link on the way is refused end to end (run_safety_e2e_test.cpp); a link at
// a file's own name can be planted only here.
TEST_F(RunOutcome, NothingIsWrittenThroughALinkAtAFilesName) {
  // A link at a file's own name whose target does not exist yet: creating the file
  // through it would make the target. The file is created exclusively, so the run
  // stops instead. (Wine shows a link to a file as the file itself, and renames and
  // deletes its target: only this case can be shown under it.)
  ASSERT_TRUE(WriteWholeFile(outside_ / "target.bin", "x"));
  ASSERT_TRUE(enginetest::PlantLink(outside_ / "target.bin", dest_ / "file.bin"));
  ASSERT_TRUE(DeleteFileA((outside_ / "target.bin").c_str()));
  for (bool planned : {false, true}) {
    EXPECT_FALSE(Run(BuildArchive({{"file.bin", "\\", "new"}}), planned));
    EXPECT_STREQ(state_->ErrorText(), texts::kInstallFilesFailed);
    UndoRun(state_->Run());
    EXPECT_EQ(ListFiles(outside_.Path()), Files{}) << planned;
  }
  EXPECT_TRUE(enginetest::RemoveLink(dest_ / "file.bin"));
}

TEST_F(RunOutcome, EveryDestinationIsCheckedBeforeTheFirstFileIsWritten) {
  const std::string second = dest_ / "second";
  ASSERT_TRUE(CreateDirectoryA(second.c_str(), nullptr));
  const auto program = BuildArchive({{"p.bin", "\\", "p"}});
  const ArchiveView programView = enginetest::ViewOf(program);
  struct Case {
    std::vector<TestEntry> work;
    const char* failure;
  };
  const std::size_t room = kMaxNewFolderLength - second.size() - 1;
  const Case cases[] = {
      // A folder still to be made that CreateDirectory would refuse.
      {{{"w.bin", "\\" + std::string(room + 1, 'f') + "\\", "w"}}, texts::kInstallFoldersFailed},
      // A file path longer than a path can be.
      {{{std::string(kPathCapacity - second.size(), 'n'), "\\", "w"}}, texts::kInstallFilesFailed},
      // A folder where a file goes.
      {{{"taken", "\\", "w"}}, texts::kInstallFilesFailed},
  };
  ASSERT_TRUE(CreateDirectoryA((second + "\\taken").c_str(), nullptr));
  for (const Case& c : cases) {
    const auto work = BuildArchive(c.work);
    const ArchiveView workView = enginetest::ViewOf(work);
    RunDestinations destinations;
    destinations.archives[0] = &programView;
    destinations.archives[1] = &workView;
    destinations.folders[0] = dest_.Path().c_str();
    destinations.folders[1] = second.c_str();
    destinations.count = 2;
    EXPECT_FALSE(PrepareRun(state_->Run(), destinations));
    EXPECT_STREQ(state_->ErrorText(), c.failure);
    EXPECT_EQ(ListFiles(dest_.Path()), Files{});
  }
  // A folder of exactly the length CreateDirectory takes is fine.
  const auto fits = BuildArchive({{"w.bin", "\\" + std::string(room, 'f') + "\\", "w"}});
  const ArchiveView fitsView = enginetest::ViewOf(fits);
  EXPECT_TRUE(PrepareRun(state_->Run(), enginetest::OneDestination(&fitsView, second.c_str()))) << state_->ErrorText();
}

// The run's records die with the process; its journal in the registry does not.
TEST_F(RunOutcome, AKilledRunIsUndoneAtTheNextStartAndASucceededOneFinished) {
  for (bool succeeded : {false, true}) {
    PlaceEarlierFiles();
    ASSERT_TRUE(Run(BuildArchive(kNewFiles), true)) << state_->ErrorText();
    if (succeeded) MarkRunSucceeded(state_->Run());
    NextRun();

    EXPECT_EQ(RecoverInterruptedRun(false, nullptr), RunStart::Recovered);
    if (succeeded) {
      EXPECT_EQ(ListFiles(dest_.Path()), (Files{"app.exe", "sub\\data.bin", "sub\\fresh.bin", "sub\\user.txt"}));
      EXPECT_EQ(ReadWholeFile(dest_ / "sub\\data.bin"), "new data");
    } else {
      EXPECT_EQ(ListFiles(dest_.Path()), (Files{"app.exe", "sub\\data.bin", "sub\\user.txt"}));
      EXPECT_EQ(ReadWholeFile(dest_ / "app.exe"), "earlier program");
      EXPECT_EQ(ReadWholeFile(dest_ / "sub\\data.bin"), Pattern(3000, 8));
    }
    EXPECT_EQ(RecoverInterruptedRun(false, nullptr), RunStart::Free) << "the journal must be gone";
    EXPECT_EQ(enginetest::KeepFoldersOnC(), std::vector<std::string>{});
    enginetest::DeleteTree(dest_ / "sub");
    SetFileAttributesA((dest_ / "app.exe").c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA((dest_ / "app.exe").c_str());
  }
}

}  // namespace
