#include "engine/archive_extraction.h"
#include "engine/run_journal.h"
#include "engine/run_outcome.h"
#include "engine/entry_data.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "shared/folder_creation.h"
#include "engine_test_support.h"
#include "shared/texts.h"

using namespace enginetest;

namespace {

int g_listsApplied = 0;
void CountListsHandedOver(const char*, const SECURITY_ATTRIBUTES* attributes) {
  if (attributes != nullptr && attributes->lpSecurityDescriptor != nullptr) ++g_listsApplied;
}

class ArchiveExtraction : public enginetest::RunScene {
 protected:

  // Runs ExtractArchive on a second thread, as the worker does.
  bool Extract(const std::vector<unsigned char>& bytes, const std::string& destination, int progressBase = 0,
               bool grantAccess = false) {
    const ArchiveView view = enginetest::ViewOf(bytes);
    EXPECT_EQ(view.base, bytes.data()) << "test archive is not valid";
    bool result = false;
    enginetest::PumpedThread worker([&] {
      // As in a run: the journal is open before an earlier file can move aside.
      result = BeginJournal(state_->Run()) &&
               ExtractArchive(state_->Run(), view, destination.c_str(), progressBase, grantAccess);
      return DWORD{0};
    });
    worker.Start();
    EXPECT_TRUE(worker.Finish());
    return result;
  }

  std::vector<std::string> Recorded() const {
    return std::vector<std::string>(state_->record->createdFiles,
                                    state_->record->createdFiles + state_->record->createdFileCount);
  }

};

TEST_F(ArchiveExtraction, WritesEveryEntryAndReportsEachStepToThePage) {
  const std::vector<TestEntry> entries = {
      {"D:\\pack\\bin\\empty.dat", "\\", ""},
      {"D:\\pack\\bin\\sub\\small.bin", "\\sub\\", Pattern(999, 1)},
      {"D:\\pack\\bin\\sub\\deeper\\two.bin", "\\sub\\deeper\\", Pattern(1999, 2)},
      {"bare.bin", "\\sub\\", Pattern(300037, 3)},
  };
  const std::string paths[] = {dest_ / "empty.dat", dest_ / "sub\\small.bin", dest_ / "sub\\deeper\\two.bin",
                               dest_ / "sub\\bare.bin"};
  const FolderObserver previous = ObserveFolderCreation(&CountListsHandedOver);
  g_listsApplied = 0;
  const bool result = Extract(BuildArchive(entries), dest_.Path(), 5, true);
  ObserveFolderCreation(previous);
  ASSERT_TRUE(result) << state_->ErrorText();
  EXPECT_EQ(g_listsApplied, 2);  // the two new folders, each once

  ASSERT_EQ(Recorded(), std::vector<std::string>(std::begin(paths), std::end(paths)));
  for (std::size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(ReadWholeFile(paths[i]), entries[i].data) << paths[i];

  // Per file: its name, file bar 0, the file bar's changes, then the overall bar.
  std::size_t at = 0;
  const std::vector<ProgressEvent> events = progress_.Events();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    ASSERT_LT(at + 2, events.size());
    EXPECT_EQ(events[at].kind, ProgressEvent::FileStarted);
    EXPECT_EQ(events[at].text, paths[i]);
    std::vector<int> positions;
    for (++at; at < events.size() && events[at].kind == ProgressEvent::FilePosition; ++at)
      positions.push_back(events[at].value);
    ASSERT_LT(at, events.size());
    EXPECT_EQ(events[at].kind, ProgressEvent::FilesDone);
    EXPECT_EQ(events[at].value, static_cast<int>(5 + i + 1));
    ++at;

    ASSERT_GE(positions.size(), 2u);
    EXPECT_EQ(positions.front(), 0);
    for (std::size_t p = 1; p < positions.size(); ++p) EXPECT_GT(positions[p], positions[p - 1]) << "file " << i;
    const std::size_t size = entries[i].data.size();
    if (size < 1000) {
      EXPECT_EQ(positions, (std::vector<int>{0, 1000}));  // straight to full
    } else if (size == 1999) {
      std::vector<int> expected{0};
      for (int w = 128; w < 1999; w += 128) expected.push_back(w);
      expected.push_back(1999);
      EXPECT_EQ(positions, expected);
    } else {
      EXPECT_EQ(positions.back(), 1000);
      EXPECT_LE(positions.size(), 1001u);
    }
  }
  EXPECT_EQ(at, events.size());
}

TEST_F(ArchiveExtraction, ReportsEveryPerMilleStepOnceAndFullLast) {
  // 2000 bytes a step, more than a chunk: every step from 0 to 1000 shows exactly once,
  // although 1000 steps are reached several chunks before the end.
  const std::string data = Pattern(2000999, 7);
  ASSERT_TRUE(Extract(BuildArchive({{"big.bin", "\\", data}}), dest_.Path()));
  std::vector<int> expected(1001);
  for (int p = 0; p <= 1000; ++p) expected[static_cast<std::size_t>(p)] = p;
  EXPECT_EQ(progress_.Values(ProgressEvent::FilePosition), expected);
  EXPECT_EQ(ReadWholeFile(dest_ / "big.bin"), data);
}

TEST_F(ArchiveExtraction, AnEmptyArchiveWritesAndSendsNothing) {
  EXPECT_TRUE(Extract(BuildArchive({}), dest_.Path()));
  EXPECT_TRUE(progress_.Events().empty());
  EXPECT_EQ(state_->record->createdFileCount, 0);
}

TEST_F(ArchiveExtraction, OverwritesAndShortensAnExistingFile) {
  ASSERT_TRUE(enginetest::WriteWholeFile(dest_ / "app.cfg", Pattern(5000, 9)));
  ASSERT_TRUE(Extract(BuildArchive({{"C:\\b\\app.cfg", "\\", "short"}}), dest_.Path()));
  EXPECT_EQ(ReadWholeFile(dest_ / "app.cfg"), "short");
}

TEST_F(ArchiveExtraction, CancelBeforeAChunkKeepsAndRecordsThePartialFile) {
  const std::string data = Pattern(50000, 4);
  int cancelledAt = 0;
  progress_.onEvent = [&](const ProgressEvent& e) {
    if (e.kind == ProgressEvent::FilePosition && e.value >= 500 && cancelledAt == 0) {
      cancelledAt = e.value;
      state_->cancelRequested.store(true);
    }
  };
  EXPECT_FALSE(Extract(BuildArchive({{"a.bin", "\\", data}, {"b.bin", "\\", "next"}}), dest_.Path()));
  EXPECT_STREQ(state_->ErrorText(), texts::kCancelledByUser);
  EXPECT_EQ(Recorded(), std::vector<std::string>{dest_ / "a.bin"});

  // The file holds whole chunks up to where the cancel was seen: at least what the
  // bar had shown when the flag was set (positions do not wait for the page), never all.
  const std::string written = ReadWholeFile(dest_ / "a.bin");
  EXPECT_EQ(written.size() % 128, 0u);
  EXPECT_GE(written.size() / 50, static_cast<std::size_t>(cancelledAt));
  EXPECT_LT(written.size(), data.size());
  EXPECT_EQ(written, data.substr(0, written.size()));
  EXPECT_FALSE(FileExists(dest_ / "b.bin"));
  EXPECT_TRUE(progress_.Values(ProgressEvent::FilesDone).empty());
  EXPECT_LE(static_cast<std::size_t>(progress_.Values(ProgressEvent::FilePosition).back()), written.size() / 50);
}

TEST_F(ArchiveExtraction, CancelBetweenFilesLeavesTheNextFileEmptyAndRecorded) {
  progress_.onEvent = [&](const ProgressEvent& e) {
    if (e.kind == ProgressEvent::FilesDone) state_->cancelRequested.store(true);
  };
  EXPECT_FALSE(Extract(BuildArchive({{"a.bin", "\\", "first"}, {"b.bin", "\\", "second"}}), dest_.Path()));
  EXPECT_STREQ(state_->ErrorText(), texts::kCancelledByUser);
  EXPECT_EQ(Recorded(), (std::vector<std::string>{dest_ / "a.bin", dest_ / "b.bin"}));
  EXPECT_EQ(ReadWholeFile(dest_ / "b.bin"), "");
  EXPECT_EQ(progress_.Values(ProgressEvent::FilesDone), std::vector<int>{1});
}

TEST_F(ArchiveExtraction, PauseHoldsEveryWriteUntilCleared) {
  const std::string data = Pattern(4000, 5);
  // Paused before the first chunk: the file is opened and its bar reset, nothing more.
  state_->extractionPaused.store(true);
  const std::vector<unsigned char> bytes = BuildArchive({{"p.bin", "\\", data}});
  const ArchiveView view = enginetest::ViewOf(bytes);
  bool result = false;
  enginetest::PumpedThread worker([&] {
    result = ExtractArchive(state_->Run(), view, dest_.Path().c_str(), 0, false);
    return DWORD{0};
  });
  worker.Start();
  enginetest::PumpFor(2500);
  // No chunk was taken: the bar never left 0 (a chunk moves it, the file being small).
  EXPECT_EQ(progress_.Values(ProgressEvent::FilePosition), std::vector<int>{0}) << "a chunk was written while paused";
  EXPECT_TRUE(FileExists(dest_ / "p.bin"));

  state_->extractionPaused.store(false);
  const DWORD resumed = GetTickCount();
  ASSERT_TRUE(worker.Finish());
  EXPECT_LT(GetTickCount() - resumed, 1500u);
  EXPECT_TRUE(result);
  EXPECT_EQ(ReadWholeFile(dest_ / "p.bin"), data);
  EXPECT_EQ(progress_.Values(ProgressEvent::FilePosition).back(), 1000);
}

TEST_F(ArchiveExtraction, ReportsDestinationsItCannotWrite) {
  // No such drive: the folder step fails before anything is sent.
  EXPECT_FALSE(Extract(BuildArchive({{"a.bin", "\\", "x"}}), "Q:\\nowhere"));
  EXPECT_STREQ(state_->ErrorText(), texts::kInstallFoldersFailed);
  EXPECT_TRUE(progress_.Events().empty());
  EXPECT_EQ(state_->record->createdFileCount, 0);

  // A folder where the second file should go: the first stays recorded, the second is not.
  ASSERT_TRUE(CreateDirectoryA((dest_ / "b.bin").c_str(), nullptr));
  EXPECT_FALSE(Extract(BuildArchive({{"a.bin", "\\", "x"}, {"b.bin", "\\", "y"}}), dest_.Path()));
  EXPECT_STREQ(state_->ErrorText(), texts::kInstallFilesFailed);
  EXPECT_EQ(Recorded(), std::vector<std::string>{dest_ / "a.bin"});
}

TEST_F(ArchiveExtraction, RefusesPathsLongerThanTheBufferInsteadOfCuttingThem) {
  // 1 + 230 characters below the scratch folder: the destination itself fits.
  const std::string longFolder = dest_ / std::string(230 - dest_.Path().size(), 'd');
  ASSERT_TRUE(CreateDirectoryA(longFolder.c_str(), nullptr)) << longFolder;
  ASSERT_EQ(longFolder.size(), 231u);

  // The entry's folder would take 231 + 31 characters.
  const std::string sub(29, 's');
  EXPECT_FALSE(Extract(BuildArchive({{"f.bin", "\\" + sub + "\\", "x"}}), longFolder));
  EXPECT_STREQ(state_->ErrorText(), texts::kInstallFoldersFailed);
  EXPECT_FALSE(FolderExists(longFolder + "\\" + sub.substr(0, 259 - 232)));

  // The folder fits, the file's path (231 + 1 + 29) does not.
  state_->record->failure = RunFailure{};
  EXPECT_FALSE(Extract(BuildArchive({{std::string(29, 'f'), "\\", "x"}}), longFolder));
  EXPECT_STREQ(state_->ErrorText(), texts::kInstallFilesFailed);
  EXPECT_TRUE(progress_.Events().empty());
  EXPECT_EQ(state_->record->createdFileCount, 0);
  EXPECT_FALSE(FileExists(longFolder + "\\" + std::string(259 - 232, 'f')));
}

TEST_F(ArchiveExtraction, NeverRecordsPastTheLastSlot) {
  state_->record->createdFileCount = kMaxCreatedFiles - 1;
  EXPECT_FALSE(Extract(BuildArchive({{"a.bin", "\\", "x"}, {"b.bin", "\\", "y"}}), dest_.Path()));
  EXPECT_STREQ(state_->ErrorText(), texts::kInstallFilesFailed);
  EXPECT_EQ(state_->record->createdFileCount, kMaxCreatedFiles);
  EXPECT_EQ(std::string(state_->record->createdFiles[kMaxCreatedFiles - 1]), dest_ / "a.bin");
  EXPECT_FALSE(FileExists(dest_ / "b.bin"));
}

TEST_F(ArchiveExtraction, ReportsAFullDiskAndRecordsThePartFile) {
  // scripts/test.sh mounts a 1 MiB tmpfs as drive T: before the Windows tests.
  if (GetDriveTypeA("T:\\") == DRIVE_NO_ROOT_DIR)
    GTEST_SKIP() << "drive T: (a 1 MiB tmpfs that scripts/test.sh mounts as root) is absent";
  TempFolder onSmallDisk("T:");
  ASSERT_FALSE(onSmallDisk.Path().empty());
  EXPECT_FALSE(Extract(BuildArchive({{"big.bin", "\\", Pattern(3 << 20, 6)}}), onSmallDisk.Path()));
  EXPECT_STREQ(state_->ErrorText(), texts::kInstallFilesWriteFailed);
  EXPECT_EQ(Recorded(), std::vector<std::string>{onSmallDisk / "big.bin"});
  EXPECT_TRUE(progress_.Values(ProgressEvent::FilesDone).empty());
}

// The build's payload, stored and compressed. In frames of 64 KiB the program
// archive has files of several frames; the work archive has more frames (17) than the
// decoding pool has slots.
std::vector<unsigned char> BuiltArchive(const char* name) {
  const char* folder = std::getenv("VELMORIX_PAYLOAD_DIR");
  const std::string bytes = ReadWholeFile(std::string(folder ? folder : "") + "\\" + name);
  return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

// What the page was told, with the destination folder taken out of the paths.
std::vector<std::string> Reports(const enginetest::RecordingProgress& progress, const std::string& folder) {
  std::vector<std::string> lines;
  for (const ProgressEvent& e : progress.Events())
    lines.push_back(std::to_string(e.kind) + " " + std::to_string(e.value) + " " +
                    (e.text.rfind(folder, 0) == 0 ? e.text.substr(folder.size()) : e.text));
  return lines;
}

TEST_F(ArchiveExtraction, CompressedArchiveWritesAndReportsExactlyAsTheStoredOne) {
  const auto stored = BuiltArchive("program.bin");
  const auto compressed = BuiltArchive("small-frames\\program.vxz");
  const ArchiveView view = enginetest::ViewOf(compressed);
  ASSERT_TRUE(view.compressed);
  ASSERT_GT(view.frameCount, static_cast<std::uint32_t>(view.count)) << "files of several frames";
  ASSERT_TRUE(Extract(stored, dest_.Path())) << state_->ErrorText();
  const std::vector<std::string> storedReports = Reports(progress_, dest_.Path());

  TempFolder other;
  progress_.Clear();
  CommitRun(state_->Run());
  NextRun();
  ASSERT_TRUE(Extract(compressed, other.Path())) << state_->ErrorText();
  EXPECT_EQ(Reports(progress_, other.Path()), storedReports);
  const std::vector<std::string> files = enginetest::ListFiles(dest_.Path());
  EXPECT_EQ(enginetest::ListFiles(other.Path()), files);
  for (const std::string& file : files) EXPECT_EQ(ReadWholeFile(other / file), ReadWholeFile(dest_ / file)) << file;
}

// Decoding started ahead on one thread and widened midway hands out the very bytes of
// the stored archive's data area, in order.
TEST(EntryData, AheadThenWidenedGivesTheStoredBytesInOrder) {
  const auto stored = BuiltArchive("program.bin");
  const auto compressed = BuiltArchive("small-frames\\program.vxz");
  const ArchiveView storedView = enginetest::ViewOf(stored);
  const ArchiveView view = enginetest::ViewOf(compressed);
  ASSERT_TRUE(view.compressed);
  EntryData data(view);
  ASSERT_TRUE(data.Start(true));
  std::string bytes;
  const unsigned char* span = nullptr;
  std::size_t length = 0;
  for (std::size_t spans = 0; data.Next(&span, &length); ++spans) {
    if (spans == view.frameCount / 2) {
      ASSERT_TRUE(data.Widen());
    }
    bytes.append(reinterpret_cast<const char*>(span), length);
    data.Consume(length);
  }
  EXPECT_EQ(bytes, std::string(reinterpret_cast<const char*>(stored.data()) + storedView.dataOffset,
                               stored.size() - storedView.dataOffset));
}

TEST_F(ArchiveExtraction, DamagedCompressedFrameFailsAsAnUnloadablePayloadAfterTheFilesBeforeIt) {
  auto compressed = BuiltArchive("work.vxz");
  const ArchiveView view = enginetest::ViewOf(compressed);
  ASSERT_TRUE(view.compressed);
  ASSERT_GT(view.count, 2);
  compressed[compressed.size() - 3] ^= 0x10;  // inside the last frame: the layout still holds
  ASSERT_TRUE(enginetest::ViewOf(compressed).compressed);
  EXPECT_FALSE(Extract(compressed, dest_.Path()));
  EXPECT_STREQ(state_->ErrorText(), texts::kResourceLoadFailed);
  // Every file before the damaged one is whole; the last was created and is recorded.
  EXPECT_EQ(state_->record->createdFileCount, view.count);
  std::vector<int> done;
  for (int i = 1; i < view.count; ++i) done.push_back(i);
  EXPECT_EQ(progress_.Values(ProgressEvent::FilesDone), done);
}

TEST_F(ArchiveExtraction, CancelWhileFramesAreDecodedAheadEndsAtOnce) {
  const auto compressed = BuiltArchive("small-frames\\program.vxz");
  progress_.onEvent = [&](const ProgressEvent& e) {
    if (e.kind == ProgressEvent::FilesDone) state_->cancelRequested.store(true);
  };
  const DWORD start = GetTickCount();
  EXPECT_FALSE(Extract(compressed, dest_.Path()));
  EXPECT_LT(GetTickCount() - start, 5000u) << "the decoding threads stop with the extraction";
  EXPECT_STREQ(state_->ErrorText(), texts::kCancelledByUser);
  EXPECT_EQ(state_->record->createdFileCount, 2);
  EXPECT_EQ(progress_.Values(ProgressEvent::FilesDone), std::vector<int>{1});
}

}  // namespace
