#include "engine/run_plan.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "engine/folder_chain.h"
#include "engine/run_journal.h"
#include "shared/texts.h"

namespace {

bool Fail(InstallerState& state, const char* message) {
  SetErrorText(state, message);
  return false;
}

// The way to one destination folder: every existing folder on it checked, and a folder
// still to be made short enough for CreateDirectory. True when `folder` exists.
bool PlanFolder(InstallerState& state, FolderChain& chain, const char* folder, bool* exists) {
  *exists = false;
  switch (chain.Reach(folder, false, 0)) {
    case WayResult::Held:
      *exists = true;
      return true;
    case WayResult::Missing:
      return std::strlen(folder) <= kMaxNewFolderLength || Fail(state, texts::kInstallFoldersFailed);
    case WayResult::Link:
      return Fail(state, texts::kInstallFilesFailed);
    case WayResult::NotAFolder:
    case WayResult::CreateFailed:
      break;
  }
  return Fail(state, texts::kInstallFoldersFailed);
}

// What stands at one destination file's name, in a folder the chain holds. An earlier
// file there gets a kept-file record, held open, and `planned` its index + 1.
bool PlanFile(InstallerState& state, FolderChain& chain, const char* root, const char* folder, const char* file,
              const char* name, std::int32_t* planned) {
  UniqueHandle existing;
  FileIdentity identity;
  switch (InspectExisting(chain, file, &existing, &identity)) {
    case ExistingFile::Absent:
      return true;
    case ExistingFile::Refused:
      return Fail(state, texts::kInstallFilesFailed);
    case ExistingFile::Found:
      break;
  }
  // A link at a file's own name is never written over, not even aside.
  char actualName[kPathCapacity];
  if (!LiesInChainEnd(chain, existing.Get(), name, actualName)) return Fail(state, texts::kInstallFilesFailed);
  const int slot = KeepFolderSlot(state, root);
  const int kept = slot < 0 ? -1 : RecordKeptFile(state, identity, folder, actualName, slot);
  if (kept < 0) return Fail(state, texts::kInstallFilesFailed);
  // A second entry for the same file finds it held by the first.
  if (!state.keptFiles[kept].held) state.keptFiles[kept].held = std::move(existing);
  *planned = kept + 1;
  return true;
}

// The relative folder of entry `index`, read in place in the archive's table.
const char* RelativeFolderOf(const ArchiveView& archive, std::int32_t index) {
  return reinterpret_cast<const char*>(archive.base + kPayloadHeaderSize +
                                       static_cast<std::size_t>(index) * kPayloadEntrySize + kPayloadTextSize);
}

// The archive's entries in the order of their folders, so that the chain walks each
// folder once (an archive may list the files of several folders interleaved). Null
// when there is no memory for it: then table order, which is only slower.
std::unique_ptr<std::int32_t[]> FolderOrder(const ArchiveView& archive) {
  std::unique_ptr<std::int32_t[]> order(new (std::nothrow) std::int32_t[static_cast<std::size_t>(archive.count)]);
  if (!order) return order;
  for (std::int32_t i = 0; i < archive.count; ++i) order[static_cast<std::size_t>(i)] = i;
  std::sort(order.get(), order.get() + archive.count, [&archive](std::int32_t a, std::int32_t b) {
    const int folders = std::strcmp(RelativeFolderOf(archive, a), RelativeFolderOf(archive, b));
    return folders != 0 ? folders < 0 : a < b;
  });
  return order;
}

}  // namespace

bool PrepareRun(InstallerState& state, const RunDestinations& destinations) {
  std::memset(state.plannedKeep, 0, sizeof(state.plannedKeep));
  state.plannedWorkpathKeep = 0;
  std::int32_t entriesBefore = 0;
  FolderChain chain;
  char root[kPathCapacity];
  char folder[kPathCapacity];
  char file[kPathCapacity];
  for (int a = 0; a < destinations.count && a < 2; ++a) {
    const ArchiveView* archive = destinations.archives[a];
    if (archive == nullptr) continue;
    if (!NormaliseFolder(root, destinations.folders[a])) return Fail(state, texts::kInstallFoldersFailed);
    if (archive->count <= 0) continue;
    const std::unique_ptr<std::int32_t[]> order = FolderOrder(*archive);
    for (std::int32_t k = 0; k < archive->count; ++k) {
      const std::int32_t i = order ? order[static_cast<std::size_t>(k)] : k;
      const PayloadEntry entry = ReadPayloadEntry(*archive, i);
      // A folder that cannot be made fails first, then a file path that does not fit.
      const EntryPath composed = ComposeEntryPaths(destinations.folders[a], entry, folder, file);
      if (composed == EntryPath::FolderTooLong) return Fail(state, texts::kInstallFoldersFailed);
      bool folderExists = false;
      if (!PlanFolder(state, chain, folder, &folderExists)) return false;
      if (composed == EntryPath::FileTooLong) return Fail(state, texts::kInstallFilesFailed);
      const std::int32_t runIndex = entriesBefore + i;
      std::int32_t unused = 0;
      std::int32_t* planned = runIndex < kMaxCreatedFiles ? &state.plannedKeep[runIndex] : &unused;
      if (folderExists && !PlanFile(state, chain, root, folder, file, PayloadFileName(entry), planned)) return false;
    }
    entriesBefore += archive->count;
  }
  // The workpath file lies directly in the install folder, beside the program.
  if (destinations.workpathFile != nullptr && destinations.count > 0) {
    if (!NormaliseFolder(root, destinations.folders[0])) return Fail(state, texts::kInstallFoldersFailed);
    const char* name = std::strrchr(destinations.workpathFile, '\\');
    bool folderExists = false;
    if (name == nullptr || !PlanFolder(state, chain, root, &folderExists)) return false;
    if (folderExists &&
        !PlanFile(state, chain, root, root, destinations.workpathFile, name + 1, &state.plannedWorkpathKeep))
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
