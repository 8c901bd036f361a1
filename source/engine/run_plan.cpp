#include "engine/run_plan.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "engine/folder_chain.h"
#include "engine/installation_record.h"
#include "engine/keep_folder.h"
#include "engine/run_journal.h"
#include "shared/texts.h"

namespace {

bool Fail(const InstallRun& run, FailureCause cause, const char* path) { return run.Fail(cause, path, GetLastError()); }

// The way to one destination folder: every existing folder on it checked, and a folder
// still to be made short enough for CreateDirectory. True when `folder` exists.
bool PlanFolder(const InstallRun& run, FolderChain& chain, const char* folder, bool* exists) {
  *exists = false;
  switch (chain.Reach(folder, false, 0)) {
    case WayResult::Held:
      *exists = true;
      return true;
    case WayResult::Missing:
      return std::strlen(folder) <= kMaxNewFolderLength ||
             run.Fail(FailureCause::FolderPathTooLong, folder, ERROR_FILENAME_EXCED_RANGE);
    case WayResult::Link:
      return Fail(run, FailureCause::FolderThroughLink, folder);
    case WayResult::NotAFolder:
    case WayResult::CreateFailed:
      break;
  }
  return Fail(run, FailureCause::FolderUnusable, folder);
}

// The names in one folder, read once for all the entries that go there (the plan
// visits entries folder by folder); a name is then found without a call per file.
class FolderListing {
 public:
  // Lists `folder` unless it is the one listed already. False when the names did not
  // all fit: then each file is looked up on its own.
  bool Load(const char* folder) {
    if (listed_ && std::strcmp(folder_, folder) == 0) return complete_;
    if (!text_) {
      text_.reset(new (std::nothrow) char[kTextCapacity]);
      offsets_.reset(new (std::nothrow) std::uint32_t[kMaxNames]);
      keys_.reset(new (std::nothrow) std::uint32_t[kMaxNames]);
      if (!text_ || !offsets_ || !keys_) return false;
    }
    CopyPath(folder_, folder);
    listed_ = true;
    complete_ = true;
    count_ = 0;
    std::size_t used = 0;
    char pattern[kPathCapacity];
    if (CopyPath(pattern, folder) != PathResult::Ok || AppendPath(pattern, "\\*") != PathResult::Ok) {
      complete_ = false;
      return false;
    }
    WIN32_FIND_DATAA found;
    const UniqueFind search(FindFirstFileA(pattern, &found));
    if (!search) return complete_ = GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
      const std::size_t length = std::strlen(found.cFileName);
      if (count_ == kMaxNames || used + length + 2 > kTextCapacity) {
        complete_ = false;
        break;
      }
      keys_[count_] = NameKey(found.cFileName);
      offsets_[count_++] = static_cast<std::uint32_t>(used);
      text_[used++] = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 'd' : 'f';
      std::memcpy(&text_[used], found.cFileName, length + 1);
      used += length + 1;
    } while (FindNextFileA(search.Get(), &found));
    return complete_;
  }

  // What stands at `name` in the listed folder.
  ExistingFile Find(const char* name, char* actualName) const {
    const std::uint32_t key = NameKey(name);
    for (std::size_t i = 0; i < count_; ++i) {
      const char* entry = &text_[offsets_[i]];
      if (keys_[i] != key || !SameName(entry + 1, name)) continue;
      if (entry[0] == 'd') return ExistingFile::Refused;
      CopyPath(actualName, entry + 1);
      return ExistingFile::Found;
    }
    return ExistingFile::Absent;
  }

 private:
  static constexpr std::size_t kTextCapacity = 256 * 1024;
  static constexpr std::size_t kMaxNames = 8192;
  std::unique_ptr<char[]> text_;
  std::unique_ptr<std::uint32_t[]> offsets_;
  std::unique_ptr<std::uint32_t[]> keys_;
  std::size_t count_ = 0;
  bool listed_ = false;
  bool complete_ = false;
  char folder_[kPathCapacity] = {};
};

// What stands at one destination file's name, in a folder that exists. An earlier
// file there gets a kept-file record and `planned` its index + 1.
bool PlanFile(const InstallRun& run, FolderListing& listing, const char* root, const char* folder,
              const char* file, const char* name, std::int32_t* planned) {
  char actualName[kPathCapacity];
  const ExistingFile existing =
      listing.Load(folder) ? listing.Find(name, actualName) : FindExisting(file, actualName);
  switch (existing) {
    case ExistingFile::Absent:
      return true;
    case ExistingFile::Refused:
      return run.Fail(FailureCause::FolderInTheWay, file, ERROR_DIRECTORY);
    case ExistingFile::Found:
      break;
  }
  const int slot = KeepFolderSlot(run, root);
  const int kept = slot < 0 ? -1 : RecordKeptFile(run, folder, actualName, slot);
  if (kept < 0) return Fail(run, FailureCause::KeepAsideFailed, file);
  *planned = kept;
  return true;
}

// The relative folder of entry `index`, read in place in the archive's table.
const char* RelativeFolderOf(const ArchiveView& archive, std::int32_t index) {
  return reinterpret_cast<const char*>(archive.base + archive.tableOffset +
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

// Each folder made before the run that still stands, held, joins the run's created
// folders with its identity, journalled.
bool AdoptPreRunFolders(const InstallRun& run, FolderChain& chain) {
  for (int i = 0; i < PreRunFolderCount(); ++i) {
    const int index = run.record.createdFolderCount;
    if (index < 0 || index >= kMaxCreatedFolders) return false;
    if (chain.Reach(PreRunFolder(i), false, 0) != WayResult::Held) continue;  // gone already: not ours to remove
    if (!ReadIdentity(chain.End(), &run.record.createdFolderIds[index])) return false;
    CopyPath(run.record.createdFolders[index], PreRunFolder(i));
    run.record.createdFolderCount = index + 1;
    if (!JournalCreatedFolder(run, index)) return false;
  }
  return true;
}

}  // namespace

bool PrepareRun(const InstallRun& run, const RunDestinations& destinations) {
  run.record.ClearPlannedKeeps();
  std::int32_t entriesBefore = 0;
  FolderChain chain;
  FolderListing listing;
  char root[kPathCapacity];
  char folder[kPathCapacity];
  char file[kPathCapacity];
  for (int a = 0; a < destinations.count && a < 2; ++a) {
    const ArchiveView* archive = destinations.archives[a];
    if (archive == nullptr) continue;
    if (!NormaliseFolder(root, destinations.folders[a]))
      return run.Fail(FailureCause::FolderPathTooLong, destinations.folders[a], ERROR_FILENAME_EXCED_RANGE);
    if (archive->count <= 0) continue;
    const std::unique_ptr<std::int32_t[]> order = FolderOrder(*archive);
    for (std::int32_t k = 0; k < archive->count; ++k) {
      const std::int32_t i = order ? order[static_cast<std::size_t>(k)] : k;
      const PayloadEntry entry = ReadPayloadEntry(*archive, i);
      // A folder that cannot be made fails first, then a file path that does not fit.
      const EntryPath composed = ComposeEntryPaths(destinations.folders[a], entry, folder, file);
      if (composed == EntryPath::FolderTooLong)
        return run.Fail(FailureCause::FolderPathTooLong, destinations.folders[a], ERROR_FILENAME_EXCED_RANGE);
      bool folderExists = false;
      if (!PlanFolder(run, chain, folder, &folderExists)) return false;
      if (composed == EntryPath::FileTooLong)
        return run.Fail(FailureCause::FilePathTooLong, folder, ERROR_FILENAME_EXCED_RANGE);
      const std::int32_t runIndex = entriesBefore + i;
      std::int32_t unused = 0;
      std::int32_t* planned = runIndex < kMaxCreatedFiles ? &run.record.plannedKeep[runIndex] : &unused;
      if (folderExists && !PlanFile(run, listing, root, folder, file, PayloadFileName(entry), planned)) return false;
    }
    entriesBefore += archive->count;
  }
  // The workpath file lies directly in the install folder, beside the program.
  if (destinations.workpathFile != nullptr && destinations.count > 0) {
    if (!NormaliseFolder(root, destinations.folders[0]))
      return run.Fail(FailureCause::FolderPathTooLong, destinations.folders[0], ERROR_FILENAME_EXCED_RANGE);
    bool folderExists = false;
    if (!PlanFolder(run, chain, root, &folderExists)) return false;
    if (folderExists && !PlanFile(run, listing, root, root, destinations.workpathFile, texts::kWorkpathTail + 1,
                                  &run.record.plannedWorkpathKeep))
      return false;
  }
  // Each keep folder needed is named and journalled before it is made, and made before
  // the first file moves.
  for (int i = 0; i < kKeepFolderCount; ++i) {
    const bool needed = std::any_of(run.record.keptFiles, run.record.keptFiles + run.record.keptFileCount,
                                    [i](const KeptFile& kept) { return kept.keepFolder == i; });
    if (needed && !NameKeepFolder(run.record.keepFolders[i]))
      return Fail(run, FailureCause::KeepFolderFailed, run.record.keepFolders[i].root);
  }
  // Without its journal a replaced file would be lost to a run that is killed, and a
  // killed run's files and ties into Windows would stay for good.
  if (!BeginJournal(run)) return Fail(run, FailureCause::JournalNotStarted, kRunJournalKey);
  // The install and work folders made just before the run belong to it: its undo (or
  // the next start's, after a kill) removes them like its own, once empty. First in
  // the list, so that the folders made inside them go before them.
  if (run.request.TiesIntoWindows() && !AdoptPreRunFolders(run, chain))
    return Fail(run, FailureCause::FolderNotRecorded, nullptr);
  for (int i = 0; i < kKeepFolderCount; ++i) {
    if (run.record.keepFolders[i].path[0] == '\0') continue;
    if (chain.Reach(run.record.keepFolders[i].root, false, 0) != WayResult::Held ||
        !EnsureKeepFolder(run, i, chain.VolumeSerial()))
      return Fail(run, FailureCause::KeepFolderFailed, run.record.keepFolders[i].root);
  }
  chain.Release();
  return true;
}
