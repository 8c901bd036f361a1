#include "engine/run_files.h"

#include <cstring>

#include "engine/extraction_pace.h"
#include "engine/keep_folder.h"
#include "engine/run_journal.h"
#include "shared/held_folder.h"

namespace {

// The record of the file this run created with `identity`, or -1.
int CreatedWithIdentity(const InstallRun& run, const FileIdentity& identity) {
  const int count = run.record.createdFileCount < kMaxCreatedFiles ? run.record.createdFileCount : kMaxCreatedFiles;
  for (int i = 0; i < count; ++i)
    if (SameIdentity(run.record.createdFileIds[i], identity)) return i;
  return -1;
}

}  // namespace

EntryPath ComposeEntryPaths(const char* destination, const PayloadEntry& entry, char* folder, char* file) {
  if (!NormaliseFolder(folder, destination)) return EntryPath::FolderTooLong;
  // "\" or "\a\b\": appended without its last backslash.
  const std::size_t relativeLength = BoundedLength(entry.relativeFolder, kPayloadTextSize);
  if (relativeLength == 0 || relativeLength >= kPathCapacity) return EntryPath::FolderTooLong;
  char relative[kPathCapacity];
  std::memcpy(relative, entry.relativeFolder, relativeLength - 1);
  relative[relativeLength - 1] = '\0';
  if (AppendPath(folder, relative) != PathResult::Ok) return EntryPath::FolderTooLong;
  if (CopyPath(file, folder) != PathResult::Ok || AppendPath(file, "\\") != PathResult::Ok ||
      AppendPath(file, PayloadFileName(entry)) != PathResult::Ok)
    return EntryPath::FileTooLong;
  return EntryPath::Ok;
}

int KeepFolderSlot(const InstallRun& run, const char* root) {
  for (int i = 0; i < kKeepFolderCount; ++i) {
    KeepFolder& folder = run.record.keepFolders[i];
    if (folder.root[0] == '\0') {
      CopyPath(folder.root, root);
      return i;
    }
    if (SameName(folder.root, root)) return i;
  }
  return -1;
}

bool EnsureKeepFolder(const InstallRun& run, int slot, DWORD volumeSerial) {
  if (slot < 0 || slot >= kKeepFolderCount || !run.record.journal) return false;
  KeepFolder& folder = run.record.keepFolders[slot];
  if (folder.held) return folder.identity.volumeSerial == volumeSerial;
  // The name is in the journal before the folder exists, so a run killed right after
  // making it leaves nothing that the next start does not find.
  if (folder.path[0] == '\0' && (!NameKeepFolder(folder) || !JournalKeepFolder(run, slot))) return false;
  return MakeKeepFolder(folder, volumeSerial) && JournalKeepFolder(run, slot);
}

bool KeptFilePath(const InstallRun& run, int index, char* out) {
  if (index < 0 || index >= run.record.keptFileCount || index >= kMaxKeptFiles) return false;
  const KeptFile& kept = run.record.keptFiles[index];
  if (kept.keepFolder < 0 || kept.keepFolder >= kKeepFolderCount || kept.keptName[0] == '\0' ||
      run.record.keepFolders[kept.keepFolder].path[0] == '\0')
    return false;
  return CopyPath(out, run.record.keepFolders[kept.keepFolder].path) == PathResult::Ok &&
         AppendPath(out, "\\") == PathResult::Ok && AppendPath(out, kept.keptName) == PathResult::Ok;
}

ExistingFile FindExisting(const char* path, char* actualName) {
  WIN32_FIND_DATAA found;
  const UniqueFind search(FindFirstFileA(path, &found));
  if (!search) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ExistingFile::Absent
                                                                          : ExistingFile::Refused;
  }
  if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return ExistingFile::Refused;
  CopyPath(actualName, found.cFileName);
  return ExistingFile::Found;
}

int RecordKeptFile(const InstallRun& run, const char* folderPath, const char* actualName, int keepFolder) {
  char path[kPathCapacity];
  if (CopyPath(path, folderPath) != PathResult::Ok || AppendPath(path, "\\") != PathResult::Ok ||
      AppendPath(path, actualName) != PathResult::Ok)
    return -1;
  // Two entries may name one file in different case: it is kept once.
  const std::uint32_t key = NameKey(path);
  for (int i = 0; i < run.record.keptFileCount && i < kMaxKeptFiles; ++i)
    if (run.record.keptFiles[i].key == key && SameName(run.record.keptFiles[i].path, path)) return i;
  if (run.record.keptFileCount < 0 || run.record.keptFileCount >= kMaxKeptFiles) return -1;
  KeptFile& kept = run.record.keptFiles[run.record.keptFileCount];
  if (!RandomName(kept.keptName, sizeof(kept.keptName), "")) return -1;
  CopyPath(kept.path, path);
  kept.key = key;
  kept.keepFolder = keepFolder;
  kept.moved = false;
  const int index = run.record.keptFileCount++;
  if (run.record.journal && !JournalKeptFile(run, index)) {
    --run.record.keptFileCount;
    return -1;
  }
  return index;
}

namespace {

// Moves the earlier file at the target's name into the keep folder as kept file
// `index`: opened relative to the held folder without following a link, and renamed
// by that handle, never replacing anything. False when the file is gone already
// (nothing to keep) or on failure, which `*failed` tells apart.
bool MoveAside(const InstallRun& run, const NewFileTarget& target, int index, bool* failed) {
  KeptFile& kept = run.record.keptFiles[index];
  *failed = true;
  const char* name = LastComponent(kept.path);
  if (name == nullptr || !EnsureKeepFolder(run, kept.keepFolder, target.chain->VolumeSerial())) return false;
  UniqueHandle earlier;
  switch (OpenChildToMove(target.chain->End(), name, &earlier)) {
    case ChildResult::Done:
      break;
    case ChildResult::Missing:
      *failed = false;
      return false;
    default:
      return false;
  }
  DWORD attributes = 0;
  if (!ReadAttributes(earlier.Get(), &attributes) || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  CountRunStep();
  if (!RenameInto(earlier.Get(), run.record.keepFolders[kept.keepFolder].held.Get(), kept.keptName)) return false;
  kept.moved = true;
  *failed = false;
  return true;
}

// What stands at the target's name when the run's plan knew nothing of it. A file the
// run created is reused only at the path it was created at and while it has no other
// name (a hard link planted to it elsewhere would otherwise be emptied).
NewFile MakeRoom(const InstallRun& run, const NewFileTarget& target, UniqueHandle* file, FileIdentity* identity) {
  // Nothing at the name leaves room for the new file; anything but a file there, or a
  // look that fails, refuses it.
  const auto looked = [](ChildResult result) {
    return result == ChildResult::Missing ? NewFile::Created : NewFile::Refused;
  };
  char actualName[kPathCapacity];
  const ChildResult listed = FindChildFile(target.chain->End(), target.name, actualName);
  if (listed != ChildResult::Done) return looked(listed);
  UniqueHandle existing;
  const ChildResult opened = OpenChild(target.chain->End(), actualName, 0, &existing);
  if (opened != ChildResult::Done) return looked(opened);
  FileIdentity found;
  if (!ReadIdentityOnVolume(existing.Get(), target.chain->VolumeSerial(), &found)) return NewFile::Refused;
  const int own = CreatedWithIdentity(run, found);
  if (own >= 0) {
    if (!SameName(run.record.createdFiles[own], target.path)) return NewFile::Refused;
    // Opened again for writing once the look is closed (neither shares deletion); the
    // file must still be the one looked at, with no other name.
    existing.Reset();
    UniqueHandle writable;
    FileIdentity reopened;
    if (OpenChild(target.chain->End(), actualName, GENERIC_WRITE, &writable) != ChildResult::Done ||
        !ReadIdentityOnVolume(writable.Get(), target.chain->VolumeSerial(), &reopened) ||
        !SameIdentity(reopened, found) || LinkCount(writable.Get()) != 1)
      return NewFile::Refused;
    CountRunStep();
    if (!SetEndOfFile(writable.Get())) return NewFile::Refused;
    *identity = found;
    *file = std::move(writable);
    return NewFile::Reused;
  }
  existing.Reset();
  const int keepFolder = KeepFolderSlot(run, target.root);
  const int kept = keepFolder < 0 ? -1 : RecordKeptFile(run, target.chain->Path(), actualName, keepFolder);
  bool failed = true;
  if (kept >= 0 && MoveAside(run, target, kept, &failed)) return NewFile::Replaced;
  return failed ? NewFile::Refused : NewFile::Created;
}

}  // namespace

NewFile CreateRunFile(const InstallRun& run, const NewFileTarget& target, UniqueHandle* file, FileIdentity* identity) {
  NewFile room = NewFile::Created;
  const int planned = target.plannedKeep;
  if (planned >= 0 && planned < run.record.keptFileCount && planned < kMaxKeptFiles &&
      !run.record.keptFiles[planned].moved) {
    // Seen before the run began and journalled: it moves as it is.
    bool failed = true;
    if (MoveAside(run, target, planned, &failed)) {
      room = NewFile::Replaced;
    } else if (failed) {
      return NewFile::Refused;
    }
  } else {
    room = MakeRoom(run, target, file, identity);
    if (room == NewFile::Refused || room == NewFile::Reused) return room;
  }
  // In the journal before it exists: a run killed right after the creation leaves a
  // file that the next start finds and removes.
  if (!JournalCreatedIntent(run, target.path)) return NewFile::NotJournalled;
  UniqueHandle created;
  CountRunStep();
  if (CreateChildFile(target.chain->End(), target.name, &created) != ChildResult::Done ||
      !ReadIdentityOnVolume(created.Get(), target.chain->VolumeSerial(), identity))
    return NewFile::Refused;
  *file = std::move(created);
  return room;
}

bool RunFolderRecorder::WillCreate(const char* path) {
  return run_.record.createdFolderCount >= 0 && run_.record.createdFolderCount < kMaxCreatedFolders &&
         JournalFolderIntent(run_, path);
}

bool RunFolderRecorder::Created(const char* path, HANDLE folder) {
  const int index = run_.record.createdFolderCount;
  if (index < 0 || index >= kMaxCreatedFolders || !ReadIdentity(folder, &run_.record.createdFolderIds[index]))
    return false;
  CopyPath(run_.record.createdFolders[index], path);
  run_.record.createdFolderCount = index + 1;
  return JournalCreatedFolder(run_, index);
}

bool RecordCreatedFile(const InstallRun& run, const char* path, const FileIdentity& identity) {
  const int index = run.record.createdFileCount;
  if (index < 0 || index >= kMaxCreatedFiles) return false;
  CopyPath(run.record.createdFiles[index], path);
  run.record.createdFileIds[index] = identity;
  run.record.createdFileCount = index + 1;
  return JournalCreatedFile(run, index);
}
