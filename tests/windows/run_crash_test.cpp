// A reinstallation killed between any two of its steps that touch the disk or the
// journal, then recovered as the next start recovers it: the earlier files come back
// byte for byte (or, once the run had succeeded, the new ones stay), with nothing
// left over. The run goes on in a child process of this test program that the test
// build's step seam (VELMORIX_STOP_AT_STEP) ends exactly at the step chosen.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/archive_extraction.h"
#include "engine/run_outcome.h"
#include "engine/run_plan.h"
#include "engine_test_support.h"

using namespace enginetest;

namespace {

using Contents = std::map<std::string, std::string>;
constexpr char kChildVariable[] = "VELMORIX_CRASH_CHILD_DEST";

// Two earlier files replaced, one in a sub-folder, a new one beside them and one in a
// folder the run makes.
const std::vector<TestEntry> kNewFiles = {
    {"app.exe", "\\", "new program"},
    {"data.bin", "\\sub\\", "new data"},
    {"fresh.bin", "\\sub\\", "only in the new payload"},
    {"deep.bin", "\\sub\\new\\", "in a new folder"},
};
const Contents kEarlier = {{"app.exe", "earlier program"}, {"sub\\data.bin", "earlier data"},
                           {"sub\\user.txt", "the user's own"}};
const Contents kAfter = {{"app.exe", "new program"}, {"sub\\data.bin", "new data"},
                         {"sub\\fresh.bin", "only in the new payload"}, {"sub\\new\\deep.bin", "in a new folder"},
                         {"sub\\user.txt", "the user's own"}};

Contents ContentsOf(const std::string& folder) {
  Contents contents;
  for (const std::string& file : ListFiles(folder)) contents[file] = ReadWholeFile(folder + "\\" + file);
  return contents;
}

// The child's part: the whole run, as the worker and the page's end make it.
void RunReinstallation(const std::string& destination) {
  auto state = std::make_unique<enginetest::TestRun>();
  const auto archive = BuildArchive(kNewFiles);
  const ArchiveView view = enginetest::ViewOf(archive);
  ASSERT_TRUE(PrepareRun(state->Run(), enginetest::OneDestination(&view, destination.c_str()))) << state->ErrorText();
  ASSERT_TRUE(ExtractArchive(state->Run(), view, destination.c_str(), 0, false)) << state->ErrorText();
  MarkRunSucceeded(state->Run());
  CommitRun(state->Run());
}

TEST(RunCrash, AReinstallationKilledAtAnyStepIsUndoneOrFinishedExactlyByTheNextStart) {
  char child[MAX_PATH] = {};
  if (GetEnvironmentVariableA(kChildVariable, child, MAX_PATH) > 0) {
    RunReinstallation(child);
    return;
  }
  TempFolder dest;
  ASSERT_FALSE(dest.Path().empty());
  const enginetest::KillTally tally = enginetest::KillAtEveryStep(
      "RunCrash.*", kChildVariable, dest.Path(), 199,
      [&] {
        enginetest::DeleteTree(dest / "sub");
        SetFileAttributesA((dest / "app.exe").c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA((dest / "app.exe").c_str());
        ASSERT_TRUE(CreateDirectoryA((dest / "sub").c_str(), nullptr));
        for (const auto& file : kEarlier) ASSERT_TRUE(WriteWholeFile(dest / file.first, file.second));
      },
      [&] { EXPECT_EQ(ContentsOf(dest.Path()), kAfter); },
      [&] {
        EXPECT_NE(RecoverInterruptedRun(false, nullptr), RunStart::Busy);
        const Contents now = ContentsOf(dest.Path());
        if (now == kEarlier) {
          EXPECT_FALSE(enginetest::FolderExists(dest / "sub\\new"));
        } else {
          EXPECT_EQ(now, kAfter);
        }
        EXPECT_EQ(RecoverInterruptedRun(false, nullptr), RunStart::Free);
        return now == kEarlier;
      });
  // Every step of the run was a place to kill it: each file's journal record, move
  // and creation, the new folder's, the keep folder's, the success mark and the
  // clean-up.
  EXPECT_GT(tally.steps, 15u);
  EXPECT_GT(tally.undone, 8);
  EXPECT_GT(tally.finished, 0);
}

}  // namespace
