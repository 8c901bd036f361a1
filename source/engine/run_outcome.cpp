#include "engine/run_outcome.h"

#include <cstring>
#include <memory>
#include <new>

#include "engine/extraction_pace.h"
#include "engine/folder_chain.h"
#include "engine/installation_record.h"
#include "engine/keep_folder.h"
#include "engine/run_files.h"
#include "engine/run_integration.h"
#include "engine/run_journal.h"
#include "engine/run_lock.h"
#include "shared/held_folder.h"

namespace {

void ReleaseKeepFolders(const InstallRun& run) {
  for (KeepFolder& folder : run.record.keepFolders) folder.held.Reset();
}

// `path`'s folder, reached by `chain` without a link (each folder on the way opened
// and held again); its name in `*name`. False when it cannot be.
bool ReachFolderOf(FolderChain& chain, const char* path, const char** name) {
  char folder[kPathCapacity];
  CopyPath(folder, path);
  char* last = std::strrchr(folder, '\\');
  *name = LastComponent(path);
  if (last == nullptr || *name == nullptr) return false;
  *last = '\0';
  return chain.Reach(folder, false, 0) == WayResult::Held;
}

// The keep folders that are still the run's own, opened again and checked; the others
// stay closed, and nothing is taken out of them.
void VerifyKeepFolders(const InstallRun& run, UniqueHandle* held) {
  for (int i = 0; i < kKeepFolderCount; ++i) {
    held[i].Reset();
    if (run.record.keepFolders[i].path[0] != '\0') OpenKeepFolder(run.record.keepFolders[i], &held[i]);
  }
}

// Kept file `index` opened in its verified keep folder; false when it is not there.
bool OpenKeptFile(const InstallRun& run, const UniqueHandle* held, int index, UniqueHandle* file) {
  const KeptFile& kept = run.record.keptFiles[index];
  if (!kept.moved || kept.keepFolder < 0 || kept.keepFolder >= kKeepFolderCount || !held[kept.keepFolder] ||
      kept.keptName[0] == '\0')
    return false;
  return OpenChild(held[kept.keepFolder].Get(), kept.keptName, 0, file) == ChildResult::Done;
}

// Deletes created file `index` when its name still leads to it: the very file when
// its identity is known, else (the run ended right after creating it) a plain file
// with no other name. False only when it is the run's file and stays.
bool DeleteCreatedFile(const InstallRun& run, FolderChain& chain, int index) {
  const char* name = nullptr;
  UniqueHandle file;
  if (!ReachFolderOf(chain, run.record.createdFiles[index], &name)) return true;
  const ChildResult opened = OpenChild(chain.End(), name, 0, &file);
  if (opened != ChildResult::Done) return opened != ChildResult::Failed;
  FileIdentity found;
  DWORD attributes = 0;
  if (!ReadIdentityOnVolume(file.Get(), chain.VolumeSerial(), &found, &attributes) ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return true;
  const FileIdentity& recorded = run.record.createdFileIds[index];
  if (IsKnownIdentity(recorded) ? !SameIdentity(found, recorded) : LinkCount(file.Get()) != 1) return true;
  CountRunStep();
  if (DeleteOpen(file.Get())) return true;
  run.Listener().StepFailed(FailureCause::FileNotRemoved, run.record.createdFiles[index], GetLastError());
  return false;
}

// Removes created folder `index` while it is still the run's, a real folder, and
// empty (a deletion fails on anything in it: it stays then).
void RemoveCreatedFolder(const InstallRun& run, int index) {
  FolderChain chain;
  const char* name = nullptr;
  UniqueHandle folder;
  if (!ReachFolderOf(chain, run.record.createdFolders[index], &name) ||
      OpenChild(chain.End(), name, kHeldFolderAccess, &folder) != ChildResult::Done || !IsRealFolder(folder.Get()))
    return;
  FileIdentity found;
  const FileIdentity& recorded = run.record.createdFolderIds[index];
  if (IsKnownIdentity(recorded) && (!ReadIdentity(folder.Get(), &found) || !SameIdentity(found, recorded))) return;
  CountRunStep();
  // A folder that holds what others put there stays, as it should.
  if (!DeleteOpen(folder.Get()) && GetLastError() != ERROR_DIR_NOT_EMPTY)
    run.Listener().StepFailed(FailureCause::FolderNotRemoved, run.record.createdFolders[index], GetLastError());
}

// Empties the run's records and removes what served them; the journal stays while a
// kept file waits for the restart, or when `complete` is not set (something of the
// run's could not be put right now: the next start tries again).
void FinishRun(const InstallRun& run, bool complete = true) {
  bool keepJournal = !complete;
  for (KeepFolder& folder : run.record.keepFolders) {
    folder.held.Reset();
    // Gone only when empty: a kept file that could not go back stays findable.
    if (folder.path[0] != '\0' && !RemoveKeepFolder(folder, run.record.restartPending) && !run.record.restartPending) {
      run.Listener().StepFailed(FailureCause::FolderNotRemoved, folder.path, GetLastError());
      keepJournal = true;
    }
    folder.root[0] = '\0';
    folder.path[0] = '\0';
    folder.identity = FileIdentity{};
  }
  if (run.record.restartPending || keepJournal) {
    run.record.journal.Reset();
  } else {
    const LONG ended = EndJournal(run);
    if (ended != ERROR_SUCCESS)
      run.Listener().StepFailed(FailureCause::JournalNotEnded, kRunJournalKey, static_cast<unsigned long>(ended));
  }
  run.record.createdFileCount = 0;
  run.record.createdFolderCount = 0;
  run.record.keptFileCount = 0;
  run.record.ClearPlannedKeeps();
  run.record.runSucceeded = false;
}

int Bounded(int count, int capacity) { return count < 0 ? 0 : (count > capacity ? capacity : count); }

}  // namespace

void UndoRun(const InstallRun& run) {
  ReleaseKeepFolders(run);
  // The steps that tie the installation into Windows came after its files: they go
  // first.
  bool complete = TakeBackIntegration(run);
  {
    FolderChain chain;
    for (int i = Bounded(run.record.createdFileCount, kMaxCreatedFiles) - 1; i >= 0; --i)
      complete = DeleteCreatedFile(run, chain, i) && complete;
    // Kept files go back only out of keep folders that are still the run's, through
    // folders that are still no links, and only where nothing took their name
    // meanwhile (the rename never replaces); otherwise they stay where they are.
    UniqueHandle held[kKeepFolderCount];
    VerifyKeepFolders(run, held);
    for (int i = Bounded(run.record.keptFileCount, kMaxKeptFiles) - 1; i >= 0; --i) {
      UniqueHandle kept;
      const char* name = nullptr;
      if (!OpenKeptFile(run, held, i, &kept) || !ReachFolderOf(chain, run.record.keptFiles[i].path, &name)) continue;
      CountRunStep();
      if (RenameInto(kept.Get(), chain.End(), name)) continue;
      run.Listener().StepFailed(FailureCause::FileNotPutBack, run.record.keptFiles[i].path, GetLastError());
      complete = false;
    }
  }
  // The folders the run made go last, the deepest first, once nothing holds them.
  for (int i = Bounded(run.record.createdFolderCount, kMaxCreatedFolders) - 1; i >= 0; --i) RemoveCreatedFolder(run, i);
  FinishRun(run, complete);
}

bool MarkRunSucceeded(const InstallRun& run) {
  if (run.record.runSucceeded) return true;
  if (!MarkJournalSucceeded(run)) return false;
  run.record.runSucceeded = true;
  return true;
}

void CommitRun(const InstallRun& run) {
  // Without the mark a run killed from here on would be undone with its kept files
  // gone: then nothing is deleted, and the journal stays for the next start.
  if (!MarkRunSucceeded(run)) {
    run.Listener().StepFailed(FailureCause::RunMarkFailed, kRunJournalKey, GetLastError());
    ReleaseKeepFolders(run);
    run.record.journal.Reset();
    return;
  }
  ReleaseKeepFolders(run);
  // The record as the run found it is no longer needed.
  const LONG forgotten = ForgetEarlierInstallationRecord(run.request.is64BitWindows != 0);
  if (forgotten != ERROR_SUCCESS)
    run.Listener().StepFailed(FailureCause::EarlierRecordNotDeleted, kInstallationRecordKey,
                              static_cast<unsigned long>(forgotten));
  {
    UniqueHandle held[kKeepFolderCount];
    VerifyKeepFolders(run, held);
    for (int i = 0; i < Bounded(run.record.keptFileCount, kMaxKeptFiles); ++i) {
      UniqueHandle kept;
      const KeptFile& record = run.record.keptFiles[i];
      const bool inVerifiedFolder =
          record.moved && record.keepFolder >= 0 && record.keepFolder < kKeepFolderCount && held[record.keepFolder];
      const ChildResult opened = inVerifiedFolder ? OpenChild(held[record.keepFolder].Get(), record.keptName, 0, &kept)
                                                  : ChildResult::Missing;
      if (opened == ChildResult::Missing) continue;
      CountRunStep();
      if (opened == ChildResult::Done && DeleteOpen(kept.Get())) continue;
      // In use (an earlier program still running): it goes at the next restart.
      kept.Reset();
      char keptPath[kPathCapacity];
      if (!KeptFilePath(run, i, keptPath) || !MoveFileExA(keptPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        run.Listener().StepFailed(FailureCause::KeptFileNotDeleted, record.path, GetLastError());
        continue;
      }
      // The journal stays either way (marked succeeded, the next start finishes it);
      // the mark only tells why.
      if (!run.record.restartPending && !MarkJournalRestartPending(run))
        run.Listener().StepFailed(FailureCause::JournalWriteFailed, kRunJournalKey, GetLastError());
      run.record.restartPending = true;
      run.Listener().DeletedAtRestart(record.path);
    }
  }
  FinishRun(run);
}

RunStart RecoverInterruptedRun(bool is64BitWindows, ProgressReport* listener) {
  // Held by this process from here to its end: a second installer started meanwhile
  // leaves this one's journal alone, and is told so.
  if (!TakeRunLock()) return RunStart::Busy;
  RunRequest request;
  request.is64BitWindows = is64BitWindows;
  request.progress = listener;
  // A run's record is large: on the heap, not the stack.
  const std::unique_ptr<RunRecord> record(new (std::nothrow) RunRecord);
  if (!record) return RunStart::Unrecoverable;
  const InstallRun interrupted(request, *record);
  bool succeeded = false;
  switch (LoadJournal(interrupted, &succeeded)) {
    case JournalFound::None:
      return RunStart::Free;
    case JournalFound::Unreadable:
      return RunStart::Unrecoverable;
    case JournalFound::Loaded:
      break;
  }
  if (succeeded) {
    CommitRun(interrupted);
  } else {
    UndoRun(interrupted);
  }
  return RunStart::Recovered;
}
