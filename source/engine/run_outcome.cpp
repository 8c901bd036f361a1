#include "engine/run_outcome.h"

void UndoRun(InstallerState& state) {
  int count = state.createdFileCount;
  if (count > kMaxCreatedFiles) count = kMaxCreatedFiles;
  for (int i = 0; i < count; ++i) DeleteFileA(state.createdFiles[i]);
}

void CommitRun(InstallerState&) {}
