#include "engine/run_outcome.h"

#include <cstring>
#include <memory>
#include <new>

#include "engine/folder_chain.h"
#include "engine/run_files.h"
#include "engine/run_journal.h"

namespace {

void ReleaseKeepFolders(InstallerState& state) {
  for (KeepFolder& folder : state.keepFolders) folder.held.Reset();
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

// Which keep folders are still the run's own: reached without a link, the same folder
// it created, and from now on held by `keepChain` so that nobody swaps them.
void VerifyKeepFolders(const InstallerState& state, FolderChain& keepChain, bool* verified) {
  for (int i = 0; i < kKeepFolderCount; ++i) {
    const KeepFolder& folder = state.keepFolders[i];
    FileIdentity identity;
    verified[i] = folder.path[0] != '\0' && keepChain.Reach(folder.path, false, 0) == WayResult::Held &&
                  ReadIdentity(keepChain.End(), &identity) && SameIdentity(identity, folder.identity);
  }
}

// Where kept file `index` lies, when it may have left its place and its keep folder
// is verified.
bool KeptFileInVerifiedFolder(const InstallerState& state, const bool* verified, int index, char* keptPath) {
  const KeptFile& kept = state.keptFiles[index];
  return kept.moved && kept.keepFolder >= 0 && kept.keepFolder < kKeepFolderCount && verified[kept.keepFolder] &&
         KeptFilePath(state, index, keptPath);
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
    // Kept files go back only through folders that are still no links, and only where
    // nothing took their name meanwhile (the move never replaces); otherwise they stay
    // in their keep folder.
    FolderChain keepChain;
    bool verified[kKeepFolderCount];
    VerifyKeepFolders(state, keepChain, verified);
    for (int i = Bounded(state.keptFileCount, kMaxKeptFiles) - 1; i >= 0; --i) {
      char keptPath[kPathCapacity];
      if (KeptFileInVerifiedFolder(state, verified, i, keptPath) && ReachFolderOf(chain, state.keptFiles[i].path))
        MoveFileExA(keptPath, state.keptFiles[i].path, 0);
    }
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
    bool verified[kKeepFolderCount];
    VerifyKeepFolders(state, keepChain, verified);
    for (int i = 0; i < Bounded(state.keptFileCount, kMaxKeptFiles); ++i) {
      char keptPath[kPathCapacity];
      if (!KeptFileInVerifiedFolder(state, verified, i, keptPath)) continue;
      // Inside the run's own folder whatever stands at a kept file's number goes; a
      // read-only earlier file first loses that attribute.
      if (!DeleteFileA(keptPath) && GetLastError() == ERROR_ACCESS_DENIED &&
          SetFileAttributesA(keptPath, FILE_ATTRIBUTE_NORMAL))
        DeleteFileA(keptPath);
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
