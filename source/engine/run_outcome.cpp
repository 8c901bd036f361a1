#include "engine/run_outcome.h"

#include <cstring>
#include <memory>
#include <new>

#include "engine/folder_chain.h"
#include "engine/run_files.h"
#include "engine/run_journal.h"

namespace {

// Lets go of everything the run holds open: its keep folders, and earlier files it
// had planned to move aside.
void ReleaseKeepFolders(InstallerState& state) {
  for (KeepFolder& folder : state.keepFolders) folder.held.Reset();
  for (KeptFile& kept : state.keptFiles) kept.held.Reset();
}

// `path`'s folder, reached by `chain` without a link; false when it cannot be.
bool ReachFolderOf(FolderChain& chain, const char* path) {
  char folder[kPathCapacity];
  CopyPath(folder, path);
  char* name = std::strrchr(folder, '\\');
  if (name == nullptr) return false;
  *name = '\0';
  return chain.Reach(folder, false, 0) == WayResult::Held;
}

// A kept file goes back only through folders that are still no links, and only where
// nothing took its name meanwhile; otherwise it stays in its keep folder.
void RestoreKeptFile(InstallerState& state, FolderChain& keepChain, FolderChain& chain, int index) {
  const KeptFile& kept = state.keptFiles[index];
  char keptPath[kPathCapacity];
  if (!KeptFilePath(state, index, keptPath) || !ReachFolderOf(keepChain, keptPath)) return;
  const UniqueHandle file = OpenNoFollow(keptPath, DELETE | FILE_READ_ATTRIBUTES);
  FileIdentity identity;
  if (!file || !ReadIdentityOnVolume(file.Get(), keepChain.VolumeSerial(), &identity) ||
      !SameIdentity(identity, kept.identity) || !ReachFolderOf(chain, kept.path))
    return;
  if (GetFileAttributesA(kept.path) != INVALID_FILE_ATTRIBUTES || GetLastError() != ERROR_FILE_NOT_FOUND) return;
  RenameOpenFile(file.Get(), kept.path);
}

// Empties the run's records and removes what served them.
void FinishRun(InstallerState& state) {
  for (KeepFolder& folder : state.keepFolders) {
    // Gone only when empty: a kept file that could not go back stays findable.
    if (folder.path[0] != '\0') DeleteIfSame(folder.path, folder.identity);
    folder.root[0] = '\0';
    folder.path[0] = '\0';
    folder.identity = FileIdentity{};
  }
  EndJournal(state);
  state.createdFileCount = 0;
  state.keptFileCount = 0;
  std::memset(state.plannedKeep, 0, sizeof(state.plannedKeep));
  state.plannedWorkpathKeep = 0;
  state.runSucceeded = false;
}

int Bounded(int count, int capacity) { return count < 0 ? 0 : (count > capacity ? capacity : count); }

}  // namespace

void UndoRun(InstallerState& state) {
  ReleaseKeepFolders(state);
  {
    FolderChain chain;
    const int created = Bounded(state.createdFileCount, kMaxCreatedFiles);
    for (int i = 0; i < created; ++i) {
      if (ReachFolderOf(chain, state.createdFiles[i]))
        DeleteIfSameOnVolume(state.createdFiles[i], state.createdFileIds[i], chain.VolumeSerial());
    }
    FolderChain keepChain;
    for (int i = Bounded(state.keptFileCount, kMaxKeptFiles) - 1; i >= 0; --i)
      RestoreKeptFile(state, keepChain, chain, i);
  }
  FinishRun(state);
}

void MarkRunSucceeded(InstallerState& state) {
  if (state.runSucceeded) return;
  MarkJournalSucceeded(state);
  state.runSucceeded = true;
}

void CommitRun(InstallerState& state) {
  MarkRunSucceeded(state);
  ReleaseKeepFolders(state);
  {
    FolderChain keepChain;
    const int kept = Bounded(state.keptFileCount, kMaxKeptFiles);
    for (int i = 0; i < kept; ++i) {
      char keptPath[kPathCapacity];
      if (KeptFilePath(state, i, keptPath) && ReachFolderOf(keepChain, keptPath))
        DeleteIfSameOnVolume(keptPath, state.keptFiles[i].identity, keepChain.VolumeSerial());
    }
  }
  FinishRun(state);
}

bool RecoverInterruptedRun(const InstallerState& state) {
  // Held by this process from here to its end: a second installer started meanwhile
  // leaves this one's journal alone. An owner that was killed leaves it abandoned,
  // which hands it over.
  static const UniqueHandle runMutex(CreateMutexA(nullptr, FALSE, "Global\\VelmorixSetupRun"));
  if (runMutex) {
    const DWORD wait = WaitForSingleObject(runMutex.Get(), 0);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return false;
  }
  // The run's records are large: on the heap, not the stack.
  const std::unique_ptr<InstallerState> interrupted(new (std::nothrow) InstallerState);
  if (!interrupted) return false;
  interrupted->is64BitWindows = state.is64BitWindows;
  bool succeeded = false;
  if (!LoadJournal(*interrupted, &succeeded)) return false;
  if (succeeded) {
    CommitRun(*interrupted);
  } else {
    UndoRun(*interrupted);
  }
  return true;
}
