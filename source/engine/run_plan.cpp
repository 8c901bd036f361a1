#include "engine/run_plan.h"

#include <cstring>

#include "engine/folder_chain.h"
#include "engine/run_journal.h"
#include "shared/texts.h"

namespace {

bool Fail(InstallerState& state, const char* message) {
  SetErrorText(state, message);
  return false;
}

// One destination: its folder's way, and what stands at the file's name.
bool PlanDestination(InstallerState& state, FolderChain& chain, const char* root, const char* folder,
                     const char* file, const char* name) {
  switch (chain.Reach(folder, false, 0)) {
    case WayResult::Held:
      break;
    case WayResult::Missing:
      // Made by the run, so nothing stands at the file's name yet.
      return std::strlen(folder) <= kMaxNewFolderLength || Fail(state, texts::kInstallFoldersFailed);
    case WayResult::Link:
      return Fail(state, texts::kInstallFilesFailed);
    case WayResult::NotAFolder:
    case WayResult::CreateFailed:
      return Fail(state, texts::kInstallFoldersFailed);
  }
  UniqueHandle existing;
  FileIdentity identity;
  char actualName[kPathCapacity];
  switch (InspectExisting(chain.End(), file, name, &existing, &identity, actualName)) {
    case ExistingFile::Absent:
      return true;
    case ExistingFile::Refused:
      return Fail(state, texts::kInstallFilesFailed);
    case ExistingFile::Found:
      break;
  }
  const int slot = KeepFolderSlot(state, root);
  if (slot < 0 || RecordKeptFile(state, identity, folder, actualName, slot) < 0)
    return Fail(state, texts::kInstallFilesFailed);
  return true;
}

}  // namespace

bool PrepareRun(InstallerState& state, const RunDestinations& destinations) {
  FolderChain chain;
  char root[kPathCapacity];
  char folder[kPathCapacity];
  char file[kPathCapacity];
  for (int a = 0; a < destinations.count && a < 2; ++a) {
    const ArchiveView* archive = destinations.archives[a];
    if (archive == nullptr) continue;
    if (!NormaliseFolder(root, destinations.folders[a])) return Fail(state, texts::kInstallFoldersFailed);
    for (std::int32_t i = 0; i < archive->count; ++i) {
      const PayloadEntry entry = ReadPayloadEntry(*archive, i);
      switch (ComposeEntryPaths(destinations.folders[a], entry, folder, file)) {
        case EntryPath::FolderTooLong:
          return Fail(state, texts::kInstallFoldersFailed);
        case EntryPath::FileTooLong:
          return Fail(state, texts::kInstallFilesFailed);
        case EntryPath::Ok:
          break;
      }
      if (!PlanDestination(state, chain, root, folder, file, PayloadFileName(entry))) return false;
    }
  }
  // The workpath file lies directly in the install folder, beside the program.
  if (destinations.workpathFile != nullptr && destinations.count > 0) {
    if (!NormaliseFolder(root, destinations.folders[0])) return Fail(state, texts::kInstallFoldersFailed);
    const char* name = std::strrchr(destinations.workpathFile, '\\');
    if (name == nullptr || !PlanDestination(state, chain, root, root, destinations.workpathFile, name + 1))
      return false;
  }
  chain.Release();

  for (int i = 0; i < state.keptFileCount; ++i)
    if (!CreateKeepFolder(state, state.keptFiles[i].keepFolder, destinations))
      return Fail(state, texts::kInstallFilesFailed);
  // Without its journal a replaced file would be lost to a run that is killed.
  if (!BeginJournal(state) && state.keptFileCount > 0) return Fail(state, texts::kInstallFilesFailed);
  return true;
}
