#include "engine/run_files.h"

#include <cstdio>
#include <cstring>

#include "engine/folder_chain.h"
#include "engine/run_journal.h"

namespace {

// The keep folder's name; a number follows when the name is taken.
constexpr char kKeepFolderName[] = "~vxkeep";
constexpr int kKeepFolderAttempts = 10;

// `text` upper-cased in the code page, as the file system compares names.
void UpperCopy(char* out, const char* text) {
  CopyPath(out, text);
  CharUpperBuffA(out, static_cast<DWORD>(std::strlen(out)));
}

// `path` is `folder` or lies below it.
bool IsAtOrBelow(const char* path, const char* folder) {
  char upperPath[kPathCapacity];
  char upperFolder[kPathCapacity];
  UpperCopy(upperPath, path);
  UpperCopy(upperFolder, folder);
  const std::size_t length = std::strlen(upperFolder);
  return std::strncmp(upperPath, upperFolder, length) == 0 &&
         (upperPath[length] == '\0' || upperPath[length] == '\\');
}

bool CreatedByRun(const InstallerState& state, const FileIdentity& identity) {
  const int count = state.createdFileCount < kMaxCreatedFiles ? state.createdFileCount : kMaxCreatedFiles;
  for (int i = 0; i < count; ++i)
    if (SameIdentity(state.createdFileIds[i], identity)) return true;
  return false;
}

}  // namespace

bool SameName(const char* a, const char* b) {
  char upperA[kPathCapacity];
  char upperB[kPathCapacity];
  UpperCopy(upperA, a);
  UpperCopy(upperB, b);
  return std::strcmp(upperA, upperB) == 0;
}

std::uint32_t NameKey(const char* text) {
  char upper[kPathCapacity];
  UpperCopy(upper, text);
  std::uint32_t key = 2166136261u;  // FNV-1a
  for (const char* c = upper; *c; ++c) key = (key ^ static_cast<unsigned char>(*c)) * 16777619u;
  return key;
}

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
    if (SameName(folder.root, root)) return i;
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

bool KeptFilePath(const InstallerState& state, int index, char* out) {
  if (index < 0 || index >= state.keptFileCount || index >= kMaxKeptFiles) return false;
  const std::int32_t keepFolder = state.keptFiles[index].keepFolder;
  if (keepFolder < 0 || keepFolder >= kKeepFolderCount || state.keepFolders[keepFolder].path[0] == '\0') return false;
  char number[16];
  std::snprintf(number, sizeof(number), "\\%d", index);
  return CopyPath(out, state.keepFolders[keepFolder].path) == PathResult::Ok &&
         AppendPath(out, number) == PathResult::Ok;
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

int RecordKeptFile(InstallerState& state, const char* folderPath, const char* actualName, int keepFolder) {
  char path[kPathCapacity];
  if (CopyPath(path, folderPath) != PathResult::Ok || AppendPath(path, "\\") != PathResult::Ok ||
      AppendPath(path, actualName) != PathResult::Ok)
    return -1;
  // Two entries may name one file in different case: it is kept once.
  const std::uint32_t key = NameKey(path);
  for (int i = 0; i < state.keptFileCount && i < kMaxKeptFiles; ++i)
    if (state.keptFiles[i].key == key && SameName(state.keptFiles[i].path, path)) return i;
  if (state.keptFileCount < 0 || state.keptFileCount >= kMaxKeptFiles) return -1;
  KeptFile& kept = state.keptFiles[state.keptFileCount];
  CopyPath(kept.path, path);
  kept.key = key;
  kept.keepFolder = keepFolder;
  kept.moved = false;
  const int index = state.keptFileCount++;
  JournalKeptFile(state, index);
  return index;
}

namespace {

// Moves the earlier file at the target's name into the keep folder as kept file
// `index`. A rename on the same volume, never replacing anything; the name is free
// afterwards. False when the file is gone already (nothing to keep) or on failure,
// which `*failed` tells apart.
bool MoveAside(InstallerState& state, const NewFileTarget& target, int index, bool* failed) {
  KeptFile& kept = state.keptFiles[index];
  char keptPath[kPathCapacity];
  *failed = true;
  if (!CreateKeepFolder(state, kept.keepFolder, *target.destinations) || !KeptFilePath(state, index, keptPath))
    return false;
  if (!MoveFileExA(target.path, keptPath, 0)) {
    *failed = GetLastError() != ERROR_FILE_NOT_FOUND;
    return false;
  }
  kept.moved = true;
  *failed = false;
  return true;
}

// The run's own file at the target's name (a second entry for the same destination),
// opened for writing and emptied; refused when the name leads elsewhere.
NewFile ReuseOwnFile(const NewFileTarget& target, const FileIdentity& own, UniqueHandle* file,
                     FileIdentity* identity) {
  UniqueHandle reopened(CreateFileA(target.path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!reopened || !ReadIdentityOnVolume(reopened.Get(), target.chain->VolumeSerial(), identity) ||
      !SameIdentity(*identity, own) || !SetEndOfFile(reopened.Get()))
    return NewFile::Refused;
  *file = std::move(reopened);
  return NewFile::Reused;
}

// What stands at the target's name when the run's plan knew nothing of it.
NewFile MakeRoom(InstallerState& state, const NewFileTarget& target, UniqueHandle* file, FileIdentity* identity) {
  char actualName[kPathCapacity];
  switch (FindExisting(target.path, actualName)) {
    case ExistingFile::Refused:
      return NewFile::Refused;
    case ExistingFile::Absent:
      return NewFile::Created;
    case ExistingFile::Found:
      break;
  }
  {
    const UniqueHandle existing = OpenNoFollow(target.path, FILE_READ_ATTRIBUTES);
    FileIdentity found;
    if (existing && ReadIdentityOnVolume(existing.Get(), target.chain->VolumeSerial(), &found) &&
        CreatedByRun(state, found))
      return ReuseOwnFile(target, found, file, identity);
  }
  const int keepFolder = KeepFolderSlot(state, target.root);
  const int kept = keepFolder < 0 ? -1 : RecordKeptFile(state, target.chain->Path(), actualName, keepFolder);
  bool failed = true;
  if (kept >= 0 && MoveAside(state, target, kept, &failed)) return NewFile::Replaced;
  return failed ? NewFile::Refused : NewFile::Created;
}

}  // namespace

NewFile CreateRunFile(InstallerState& state, const NewFileTarget& target, UniqueHandle* file, FileIdentity* identity) {
  NewFile room = NewFile::Created;
  const int planned = target.plannedKeep;
  if (planned >= 0 && planned < state.keptFileCount && planned < kMaxKeptFiles && !state.keptFiles[planned].moved) {
    // Seen before the run began and journalled: it moves as it is.
    bool failed = true;
    if (MoveAside(state, target, planned, &failed)) {
      room = NewFile::Replaced;
    } else if (failed) {
      return NewFile::Refused;
    }
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
