#include "engine/run_files.h"

#include <cstdio>
#include <cstring>

#include "engine/folder_chain.h"
#include "engine/run_journal.h"

namespace {

// The keep folder's name; a number follows when the name is taken.
constexpr char kKeepFolderName[] = "~vxkeep";
constexpr int kKeepFolderAttempts = 10;

// `path` is `folder` or lies below it (names compared as the file system does).
bool IsAtOrBelow(const char* path, const char* folder) {
  const int length = static_cast<int>(std::strlen(folder));
  if (static_cast<int>(std::strlen(path)) < length ||
      CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path, length, folder, length) != CSTR_EQUAL)
    return false;
  return path[length] == '\0' || path[length] == '\\';
}

bool SamePath(const char* a, const char* b) {
  return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a, -1, b, -1) == CSTR_EQUAL;
}

bool CreatedByRun(const InstallerState& state, const FileIdentity& identity) {
  const int count = state.createdFileCount < kMaxCreatedFiles ? state.createdFileCount : kMaxCreatedFiles;
  for (int i = 0; i < count; ++i)
    if (SameIdentity(state.createdFileIds[i], identity)) return true;
  return false;
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

bool UsedByRun(const RunDestinations& destinations, const char* path) {
  if (destinations.workpathFile && IsAtOrBelow(destinations.workpathFile, path)) return true;
  char folder[kPathCapacity];
  char file[kPathCapacity];
  for (int a = 0; a < destinations.count && a < 2; ++a) {
    const ArchiveView* archive = destinations.archives[a];
    if (archive == nullptr) continue;
    for (std::int32_t i = 0; i < archive->count; ++i) {
      const PayloadEntry entry = ReadPayloadEntry(*archive, i);
      if (ComposeEntryPaths(destinations.folders[a], entry, folder, file) == EntryPath::Ok && IsAtOrBelow(file, path))
        return true;
    }
  }
  return false;
}

int KeepFolderSlot(InstallerState& state, const char* root) {
  for (int i = 0; i < kKeepFolderCount; ++i) {
    KeepFolder& folder = state.keepFolders[i];
    if (folder.root[0] == '\0') {
      CopyPath(folder.root, root);
      return i;
    }
    if (SamePath(folder.root, root)) return i;
  }
  return -1;
}

bool CreateKeepFolder(InstallerState& state, int slot, const RunDestinations& destinations) {
  if (slot < 0 || slot >= kKeepFolderCount) return false;
  KeepFolder& folder = state.keepFolders[slot];
  if (folder.path[0] != '\0') return true;
  for (int attempt = 0; attempt < kKeepFolderAttempts; ++attempt) {
    char name[16];
    std::snprintf(name, sizeof(name), attempt == 0 ? "%s" : "%s.%d", kKeepFolderName, attempt);
    char candidate[kPathCapacity];
    if (CopyPath(candidate, folder.root) != PathResult::Ok || AppendPath(candidate, "\\") != PathResult::Ok ||
        AppendPath(candidate, name) != PathResult::Ok)
      return false;
    if (UsedByRun(destinations, candidate)) continue;
    // Created here and now: a folder already standing at the name is never used.
    if (!CreateDirectoryA(candidate, nullptr)) {
      if (GetLastError() == ERROR_ALREADY_EXISTS) continue;
      return false;
    }
    UniqueHandle held(CreateFileA(candidate, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    DWORD attributes = 0;
    if (!held || !ReadIdentity(held.Get(), &folder.identity, &attributes) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      return false;
    FILE_BASIC_INFO basic{};  // zero times stay as they are
    basic.FileAttributes = attributes | FILE_ATTRIBUTE_HIDDEN;
    SetFileInformationByHandle(held.Get(), FileBasicInfo, &basic, sizeof(basic));
    CopyPath(folder.path, candidate);
    folder.held = std::move(held);
    JournalKeepFolder(state, slot);
    return true;
  }
  return false;
}

int EnsureKeepFolder(InstallerState& state, const char* root, const RunDestinations& destinations) {
  const int slot = KeepFolderSlot(state, root);
  return CreateKeepFolder(state, slot, destinations) ? slot : -1;
}

bool KeptFilePath(const InstallerState& state, int index, char* out) {
  if (index < 0 || index >= state.keptFileCount || index >= kMaxKeptFiles) return false;
  const std::int32_t keepFolder = state.keptFiles[index].keepFolder;
  if (keepFolder < 0 || keepFolder >= kKeepFolderCount || state.keepFolders[keepFolder].path[0] == '\0') return false;
  char number[16];
  std::snprintf(number, sizeof(number), "\\%d", index);
  return CopyPath(out, state.keepFolders[keepFolder].path) == PathResult::Ok &&
         AppendPath(out, number) == PathResult::Ok;
}

ExistingFile InspectExisting(FolderChain& chain, const char* path, UniqueHandle* file, FileIdentity* identity) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ExistingFile::Absent
                                                                          : ExistingFile::Refused;
  }
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return ExistingFile::Refused;
  *file = OpenNoFollow(path, DELETE | FILE_READ_ATTRIBUTES);
  DWORD opened = 0;
  if (!*file || !ReadIdentityOnVolume(file->Get(), chain.VolumeSerial(), identity, &opened) ||
      (opened & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    file->Reset();
    return ExistingFile::Refused;
  }
  return ExistingFile::Found;
}

bool LiesInChainEnd(FolderChain& chain, HANDLE file, const char* name, char* actualName) {
  const char* folderFinal = chain.EndFinalPath();
  return folderFinal != nullptr && IsDirectlyInside(folderFinal, file, name, actualName);
}

int RecordKeptFile(InstallerState& state, const FileIdentity& identity, const char* folderPath, const char* actualName,
                   int keepFolder) {
  for (int i = 0; i < state.keptFileCount && i < kMaxKeptFiles; ++i)
    if (SameIdentity(state.keptFiles[i].identity, identity)) return i;
  if (state.keptFileCount < 0 || state.keptFileCount >= kMaxKeptFiles) return -1;
  KeptFile& kept = state.keptFiles[state.keptFileCount];
  if (CopyPath(kept.path, folderPath) != PathResult::Ok || AppendPath(kept.path, "\\") != PathResult::Ok ||
      AppendPath(kept.path, actualName) != PathResult::Ok)
    return -1;
  kept.identity = identity;
  kept.keepFolder = keepFolder;
  const int index = state.keptFileCount++;
  JournalKeptFile(state, index);
  return index;
}

namespace {

// The kept-file record planned for the earlier file `identity`, or -1.
int PlannedKeep(const InstallerState& state, const FileIdentity& identity) {
  for (int i = 0; i < state.keptFileCount && i < kMaxKeptFiles; ++i)
    if (SameIdentity(state.keptFiles[i].identity, identity)) return i;
  return -1;
}

// Moves the earlier file aside into the keep folder of the target's destination.
bool KeepAside(InstallerState& state, const NewFileTarget& target, HANDLE existing, const FileIdentity& identity) {
  int kept = PlannedKeep(state, identity);
  if (kept < 0) {
    // Not seen when the run was planned: checked as the plan checks, then recorded.
    char actualName[kPathCapacity];
    if (!LiesInChainEnd(*target.chain, existing, target.name, actualName)) return false;
    const int keepFolder = KeepFolderSlot(state, target.root);
    if (keepFolder < 0) return false;
    kept = RecordKeptFile(state, identity, target.chain->Path(), actualName, keepFolder);
  }
  char keptPath[kPathCapacity];
  return kept >= 0 && CreateKeepFolder(state, state.keptFiles[kept].keepFolder, *target.destinations) &&
         KeptFilePath(state, kept, keptPath) && RenameOpenFile(existing, keptPath);
}

}  // namespace

namespace {

// Moves the earlier file that the run's plan opened into its keep folder.
bool MovePlannedAside(InstallerState& state, const NewFileTarget& target) {
  KeptFile& kept = state.keptFiles[target.plannedKeep];
  char keptPath[kPathCapacity];
  if (!CreateKeepFolder(state, kept.keepFolder, *target.destinations) ||
      !KeptFilePath(state, target.plannedKeep, keptPath) || !RenameOpenFile(kept.held.Get(), keptPath))
    return false;
  kept.held.Reset();
  return true;
}

// What stands at the target's name when the plan knew nothing of it: moved aside,
// reused (the run's own file, opened for writing into `file`), or refused.
NewFile MakeRoom(InstallerState& state, const NewFileTarget& target, UniqueHandle* file, FileIdentity* identity) {
  UniqueHandle existing;
  FileIdentity existingIdentity;
  switch (InspectExisting(*target.chain, target.path, &existing, &existingIdentity)) {
    case ExistingFile::Refused:
      return NewFile::Refused;
    case ExistingFile::Absent:
      return NewFile::Created;
    case ExistingFile::Found:
      break;
  }
  if (CreatedByRun(state, existingIdentity)) {
    // A second entry for the same destination: the run's own file is emptied.
    existing.Reset();
    UniqueHandle reopened(CreateFileA(target.path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    FileIdentity again;
    if (!reopened || !ReadIdentityOnVolume(reopened.Get(), target.chain->VolumeSerial(), &again) ||
        !SameIdentity(again, existingIdentity) || !SetEndOfFile(reopened.Get()))
      return NewFile::Refused;
    *file = std::move(reopened);
    *identity = again;
    return NewFile::Reused;
  }
  return KeepAside(state, target, existing.Get(), existingIdentity) ? NewFile::Replaced : NewFile::Refused;
}

}  // namespace

NewFile CreateRunFile(InstallerState& state, const NewFileTarget& target, UniqueHandle* file, FileIdentity* identity) {
  const bool planned = target.plannedKeep >= 0 && target.plannedKeep < state.keptFileCount &&
                       target.plannedKeep < kMaxKeptFiles && state.keptFiles[target.plannedKeep].held;
  // The earlier file was checked and opened before the run began: it moves as it is.
  NewFile room = NewFile::Replaced;
  if (planned) {
    if (!MovePlannedAside(state, target)) return NewFile::Refused;
  } else {
    room = MakeRoom(state, target, file, identity);
    if (room == NewFile::Refused || room == NewFile::Reused) return room;
  }
  // Exclusive: anything standing at the name, a link included, makes this fail, so
  // nothing is ever written through a link. The folder is held by the chain.
  UniqueHandle created(CreateFileA(target.path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!created || !ReadIdentityOnVolume(created.Get(), target.chain->VolumeSerial(), identity))
    return NewFile::Refused;
  *file = std::move(created);
  return room;
}

bool RecordCreatedFile(InstallerState& state, const char* path, const FileIdentity& identity) {
  const int index = state.createdFileCount;
  if (index < 0 || index >= kMaxCreatedFiles) return false;
  CopyPath(state.createdFiles[index], path);
  state.createdFileIds[index] = identity;
  state.createdFileCount = index + 1;
  JournalCreatedFile(state, index);
  return true;
}
