// The run's journal on its own: what a run writes into it comes back whole in the next
// process, a damaged record ends the reading there, and the end deletes it. Also the
// run's record of its last failure.
#include "engine/run_journal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "engine_test_support.h"
#include "shared/raii.h"
#include "shared/texts.h"

namespace {

constexpr char kJournalKey[] = "Software\\VelmorixSetup\\Run";

void ExpectNoJournal() {
  UniqueKey key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kJournalKey, 0, KEY_READ, key.Receive()), ERROR_FILE_NOT_FOUND);
}

FileIdentity Identity(DWORD low) {
  FileIdentity identity;
  identity.volumeSerial = 0x1234;
  identity.indexLow = low;
  return identity;
}

using RunJournal = enginetest::RunScene;

TEST_F(RunJournal, WhatARunJournalsComesBackInTheNextProcess) {
  RunRecord& record = *state_->record;
  CopyPath(record.keepFolders[1].root, "C:\\work");
  CopyPath(record.keepFolders[1].path, "C:\\velmorix-keep-0123456789abcdef");
  record.keptFileCount = 2;
  for (int i = 0; i < 2; ++i) {
    KeptFile& kept = record.keptFiles[i];
    CopyPath(kept.path, i == 0 ? "C:\\work\\a.dat" : "C:\\work\\sub\\b.dat");
    CopyText(kept.keptName, sizeof(kept.keptName), i == 0 ? "kept-1" : "kept-2");
    kept.keepFolder = 1;
  }
  ASSERT_TRUE(BeginJournal(state_->Run()));
  // After the start: one more kept file, a file and a folder made, a step's record.
  record.keptFileCount = 3;
  CopyPath(record.keptFiles[2].path, "C:\\work\\c.dat");
  CopyText(record.keptFiles[2].keptName, kKeptNameSize, "kept-3");
  record.keptFiles[2].keepFolder = 1;
  ASSERT_TRUE(JournalKeptFile(state_->Run(), 2));
  ASSERT_TRUE(JournalCreatedIntent(state_->Run(), "C:\\work\\new.dat"));
  CopyPath(record.createdFiles[0], "C:\\work\\new.dat");
  record.createdFileIds[0] = Identity(7);
  record.createdFileCount = 1;
  ASSERT_TRUE(JournalCreatedFile(state_->Run(), 0));
  ASSERT_TRUE(JournalFolderIntent(state_->Run(), "C:\\work\\sub"));
  const unsigned char step[] = {1, 0, 2, 0, 3};
  ASSERT_TRUE(JournalStep(state_->Run(), "a step", step, sizeof(step)));
  ASSERT_TRUE(MarkJournalSucceeded(state_->Run()));
  NextRun();
  bool succeeded = false;
  ASSERT_EQ(LoadJournal(state_->Run(), &succeeded), JournalFound::Loaded);
  const RunRecord& loaded = *state_->record;
  EXPECT_TRUE(succeeded);
  EXPECT_STREQ(loaded.keepFolders[1].path, "C:\\velmorix-keep-0123456789abcdef");
  EXPECT_STREQ(loaded.keepFolders[0].path, "");
  ASSERT_EQ(loaded.keptFileCount, 3);
  EXPECT_STREQ(loaded.keptFiles[1].path, "C:\\work\\sub\\b.dat");
  EXPECT_STREQ(loaded.keptFiles[2].keptName, "kept-3");
  EXPECT_TRUE(loaded.keptFiles[2].moved) << "a journal cannot tell; recovery looks";
  ASSERT_EQ(loaded.createdFileCount, 1);
  EXPECT_STREQ(loaded.createdFiles[0], "C:\\work\\new.dat");
  EXPECT_TRUE(SameIdentity(loaded.createdFileIds[0], Identity(7)));
  ASSERT_EQ(loaded.createdFolderCount, 1);
  EXPECT_FALSE(IsKnownIdentity(loaded.createdFolderIds[0])) << "only intended when the run ended";
  std::unique_ptr<unsigned char[]> read;
  std::size_t size = 0;
  ASSERT_TRUE(ReadJournalStep(state_->Run(), "a step", &read, &size));
  EXPECT_EQ(std::string(read.get(), read.get() + size), std::string(step, step + sizeof(step)));

  EXPECT_EQ(EndJournal(state_->Run()), ERROR_SUCCESS);
  ExpectNoJournal();
  EXPECT_EQ(LoadJournal(state_->Run(), &succeeded), JournalFound::None);
  EXPECT_EQ(EndJournal(state_->Run()), ERROR_SUCCESS) << "nothing left to delete is no failure";
}

TEST_F(RunJournal, ADamagedRecordEndsTheReadingAndNoJournalMeansNoRecords) {
  ASSERT_TRUE(BeginJournal(state_->Run()));
  for (int i = 0; i < 3; ++i) {
    const std::string path = "C:\\work\\file" + std::to_string(i);
    ASSERT_TRUE(JournalCreatedIntent(state_->Run(), path.c_str()));
    ++state_->record->createdFileCount;
  }
  // Record c1 loses its path's terminator: c1 and everything after it are not read.
  char unterminated[64];
  std::memset(unterminated, 'x', sizeof(unterminated));
  ASSERT_EQ(RegSetValueExA(state_->record->journal.Get(), "c1", 0, REG_BINARY,
                           reinterpret_cast<const BYTE*>(unterminated), sizeof(unterminated)),
            ERROR_SUCCESS);
  NextRun();
  bool succeeded = true;
  ASSERT_EQ(LoadJournal(state_->Run(), &succeeded), JournalFound::Loaded);
  EXPECT_FALSE(succeeded);
  EXPECT_EQ(state_->record->createdFileCount, 1);
  EXPECT_EQ(EndJournal(state_->Run()), ERROR_SUCCESS);

  // Without an open journal nothing is recorded, and nothing fails.
  NextRun();
  EXPECT_TRUE(JournalCreatedIntent(state_->Run(), "C:\\x"));
  EXPECT_TRUE(MarkJournalSucceeded(state_->Run()));
  ExpectNoJournal();
}

TEST(RunRecord, KeepsTheRunsLastFailureButNotThoseOfItsUndo) {
  enginetest::RecordingProgress listener;
  enginetest::TestRun test;
  test.request.progress = &listener;
  EXPECT_FALSE(test.Run().Fail(FailureCause::FolderThroughLink, "C:\\a", 4391));
  test.Run().Progress().StepFailed(FailureCause::DesktopShortcutFailed, nullptr, 5);
  test.Run().Listener().StepFailed(FailureCause::FileNotPutBack, "C:\\b", 32);
  EXPECT_EQ(test.record->failure.cause, FailureCause::DesktopShortcutFailed);
  EXPECT_STREQ(test.record->failure.path, "");
  EXPECT_EQ(test.record->failure.systemError, 5u);
  EXPECT_STREQ(test.ErrorText(), texts::kDesktopShortcutFailed);
  // The request's receiver hears all three.
  EXPECT_EQ(listener.LastFailure().cause, FailureCause::FileNotPutBack);
  EXPECT_EQ(listener.LastFailure().path, "C:\\b");
}

}  // namespace
