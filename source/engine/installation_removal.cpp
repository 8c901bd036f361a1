#include "engine/installation_removal.h"

#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "engine/folder_chain.h"
#include "engine/extraction_pace.h"
#include "engine/keep_folder.h"
#include "engine/run_names.h"
#include "integration/shortcuts.h"
#include "integration/uninstall_registration.h"
#include "shared/held_folder.h"
#include "shared/texts.h"

namespace {

constexpr char kJournalKey[] = "Software\\VelmorixInstallation\\Removal";
constexpr char kDoneValue[] = "done";
constexpr char kKeptPrefix[] = "~VelmorixGone.";
// Every recorded file and both shortcuts, and what /REMOVEDATA adds of the work folder.
constexpr int kMaxRemoved = kMaxRecordedFiles + 2;

// One file on its way out: where it stood and its name in its keep folder.
struct Removed {
  char path[kPathCapacity];
  char keptName[kKeptNameSize];
  int keepFolder;
  bool moved;
};

// What one removal works on; large, so on the heap.
struct RemovalRun {
  const InstallationRecord& record;
  const RemovalOptions& options;
  int count = 0;
  Removed files[kMaxRemoved];
  int extraFolderCount = 0;  // folders of the work folder's own, with /REMOVEDATA
  char extraFolders[kMaxRecordedFolders][kPathCapacity];
  KeepFolder keep[kKeepFolderCount] = {};
  UniqueKey journal;
  bool restartPending = false;

  RemovalRun(const InstallationRecord& r, const RemovalOptions& o) : record(r), options(o) {}
};

ProgressReport g_silent;
ProgressReport& ProgressOf(const RemovalOptions& options) { return options.progress ? *options.progress : g_silent; }

REGSAM ViewOf(bool is64BitWindows) { return is64BitWindows ? KEY_WOW64_64KEY : 0; }

bool SplitPath(const char* path, char* folder, const char** name) {
  if (CopyPath(folder, path) != PathResult::Ok) return false;
  char* last = std::strrchr(folder, '\\');
  *name = LastComponent(path);
  if (last == nullptr || *name == nullptr) return false;
  *last = '\0';
  return true;
}

bool IsFile(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void AddFile(RemovalRun& removal, const char* path) {
  if (removal.count >= kMaxRemoved || !IsFile(path)) return;
  for (int i = 0; i < removal.count; ++i)
    if (SameName(removal.files[i].path, path)) return;
  Removed& file = removal.files[removal.count++];
  CopyPath(file.path, path);
  file.keptName[0] = '\0';
  file.keepFolder = -1;
  file.moved = false;
}

// Everything below `folder` (files, and folders for removal once empty), for
// /REMOVEDATA; links are not followed.
void AddTree(RemovalRun& removal, const char* folder, int depth) {
  char pattern[kPathCapacity];
  if (depth > 32 || CopyPath(pattern, folder) != PathResult::Ok || AppendPath(pattern, "\\*") != PathResult::Ok) return;
  WIN32_FIND_DATAA found;
  const UniqueFind search(FindFirstFileA(pattern, &found));
  if (!search) return;
  do {
    if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0) continue;
    char path[kPathCapacity];
    CopyPath(path, folder);
    if (AppendPath(path, "\\") != PathResult::Ok || AppendPath(path, found.cFileName) != PathResult::Ok) continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      AddTree(removal, path, depth + 1);
      if (removal.extraFolderCount < kMaxRecordedFolders)
        CopyPath(removal.extraFolders[removal.extraFolderCount++], path);
    } else {
      AddFile(removal, path);
    }
  } while (FindNextFileA(search.Get(), &found));
}

void Plan(RemovalRun& removal) {
  const InstallationRecord& record = removal.record;
  for (int i = 0; i < record.fileCount; ++i) {
    const RecordedFile& file = record.files[i];
    if (file.kind == RecordedFileKind::Program || removal.options.removeData || IsUnchanged(file))
      AddFile(removal, file.path);
  }
  if (removal.options.removeData && record.workDir[0] != '\0') AddTree(removal, record.workDir, 0);
  // A shortcut the user pointed elsewhere is the user's now.
  // The multithreaded apartment: a single-threaded one makes a hidden window, and with
  // it the display driver loads (a fifth of an unattended removal's time under Wine).
  const ComApartment com(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  for (const char* shortcut : record.shortcuts)
    if (shortcut[0] != '\0' && CheckProgramShortcut(shortcut, record.shortcutTarget).outcome == Removal::Removed)
      AddFile(removal, shortcut);
}

bool SetJournalValue(RemovalRun& removal, const char* name, DWORD type, const void* data, std::size_t size) {
  CountRunStep();
  return RegSetValueExA(removal.journal.Get(), name, 0, type, static_cast<const BYTE*>(data),
                        static_cast<DWORD>(size)) == ERROR_SUCCESS;
}

// A file's journal value: its keep folder, its kept name, its path.
bool JournalFile(RemovalRun& removal, int index) {
  const Removed& file = removal.files[index];
  BYTE data[1 + kKeptNameSize + kPathCapacity] = {};
  data[0] = static_cast<BYTE>(file.keepFolder);
  std::memcpy(data + 1, file.keptName, kKeptNameSize);
  const std::size_t length = std::strlen(file.path) + 1;
  std::memcpy(data + 1 + kKeptNameSize, file.path, length);
  char name[16];
  std::snprintf(name, sizeof(name), "f%d", index);
  return SetJournalValue(removal, name, REG_BINARY, data, 1 + kKeptNameSize + length);
}

// The keep folder serving `path`'s volume, made (and journalled) on first use.
int KeepFolderFor(RemovalRun& removal, const char* path, DWORD volumeSerial) {
  char root[kPathCapacity];
  if (!VolumeRootOf(path, root)) return -1;
  for (int i = 0; i < kKeepFolderCount; ++i) {
    KeepFolder& folder = removal.keep[i];
    char served[kPathCapacity];
    if (folder.root[0] != '\0' && VolumeRootOf(folder.root, served) && _stricmp(served, root) == 0) return i;
    if (folder.root[0] != '\0') continue;
    CopyPath(folder.root, root);
    char name[8];
    std::snprintf(name, sizeof(name), "keep%d", i);
    if (!NameKeepFolder(folder) || !SetJournalValue(removal, name, REG_SZ, folder.path, std::strlen(folder.path) + 1) ||
        RegFlushKey(removal.journal.Get()) != ERROR_SUCCESS || !MakeKeepFolder(folder, volumeSerial))
      return -1;
    return i;
  }
  return -1;
}

// Moves file `index` into its keep folder, by handle, through folders that are no links.
bool MoveAside(RemovalRun& removal, FolderChain& chain, int index) {
  Removed& file = removal.files[index];
  char folder[kPathCapacity];
  const char* name = nullptr;
  UniqueHandle opened;
  if (!SplitPath(file.path, folder, &name) || chain.Reach(folder, false, 0) != WayResult::Held ||
      OpenChildToMove(chain.End(), name, &opened) != ChildResult::Done)
    return false;
  file.keepFolder = KeepFolderFor(removal, file.path, chain.VolumeSerial());
  if (file.keepFolder < 0 || !RandomName(file.keptName, sizeof(file.keptName), kKeptPrefix) ||
      !JournalFile(removal, index))
    return false;
  CountRunStep();
  if (!RenameInto(opened.Get(), removal.keep[file.keepFolder].held.Get(), file.keptName)) return false;
  file.moved = true;
  return true;
}

// Puts every moved file back under its own name, the last moved first.
bool MoveBack(RemovalRun& removal) {
  bool all = true;
  FolderChain chain;
  for (int i = removal.count - 1; i >= 0; --i) {
    Removed& file = removal.files[i];
    if (!file.moved) continue;
    char folder[kPathCapacity];
    const char* name = nullptr;
    UniqueHandle kept;
    CountRunStep();
    const ChildResult opened = OpenChild(removal.keep[file.keepFolder].held.Get(), file.keptName, 0, &kept);
    // Journalled but not in the keep folder: killed before its move, so it never left.
    const bool back = opened == ChildResult::Missing ||
                      (opened == ChildResult::Done && SplitPath(file.path, folder, &name) &&
                       chain.Reach(folder, false, 0) == WayResult::Held && RenameInto(kept.Get(), chain.End(), name));
    if (back) file.moved = false;
    all = back && all;
  }
  return all;
}

std::size_t Depth(const char* path) {
  std::size_t depth = 0;
  for (; *path; ++path) depth += *path == '\\';
  return depth;
}

// Removes each folder once empty, the deepest first.
void RemoveFolders(char (*folders)[kPathCapacity], int count) {
  for (;;) {
    int deepest = -1;
    for (int i = 0; i < count; ++i)
      if (folders[i][0] != '\0' && (deepest < 0 || Depth(folders[i]) > Depth(folders[deepest]))) deepest = i;
    if (deepest < 0) return;
    RemoveDirectoryA(folders[deepest]);
    folders[deepest][0] = '\0';
  }
}

void RemoveRecordedFolders(const InstallationRecord& record) {
  const std::unique_ptr<char[][kPathCapacity]> folders(new (std::nothrow) char[kMaxRecordedFolders][kPathCapacity]);
  if (!folders) return;
  for (int i = 0; i < record.folderCount; ++i) CopyPath(folders[static_cast<std::size_t>(i)], record.folders[i]);
  RemoveFolders(folders.get(), record.folderCount);
}

// The class keys and values, each only while it still holds what the installation
// wrote; what it replaced is put back. The keys the installation created go once
// empty, the deepest first. ERROR_SUCCESS, or the first value's failure.
LONG RestoreClassValues(const InstallationRecord& record, REGSAM view) {
  LONG first = ERROR_SUCCESS;
  for (int i = 0; i < record.valueCount; ++i) {
    const RecordedValue& value = record.values[i];
    if (value.keyOnly) continue;
    UniqueKey key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, value.key, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | view, key.Receive()) !=
        ERROR_SUCCESS)
      continue;
    char current[kRecordedDataCapacity] = {};
    DWORD type = 0;
    DWORD size = sizeof(current) - 1;
    if (RegQueryValueExA(key.Get(), value.name, nullptr, &type, reinterpret_cast<BYTE*>(current), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ || std::strcmp(current, value.written) != 0)
      continue;  // gone, or another program's now
    const LONG result = value.existedBefore
                            ? RegSetValueExA(key.Get(), value.name, 0, value.priorType, value.prior, value.priorSize)
                            : RegDeleteValueA(key.Get(), value.name);
    if (first == ERROR_SUCCESS) first = result;
  }
  bool handled[kMaxRecordedValues] = {};
  for (;;) {
    int deepest = -1;
    for (int i = 0; i < record.valueCount && i < kMaxRecordedValues; ++i) {
      const RecordedValue& value = record.values[i];
      if (value.keyOnly && !handled[i] && (deepest < 0 || Depth(value.key) > Depth(record.values[deepest].key)))
        deepest = i;
    }
    if (deepest < 0) return first;
    handled[deepest] = true;
    const RecordedValue& value = record.values[deepest];
    UniqueKey key;
    DWORD subKeys = 1;
    DWORD values = 1;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, value.key, 0, KEY_READ | view, key.Receive()) != ERROR_SUCCESS ||
        RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS ||
        subKeys != 0 || values != 0)
      continue;
    key.Reset();
    RegDeleteKeyExA(HKEY_CLASSES_ROOT, value.key, view, 0);
  }
}

// Deletes what lies in a keep folder; a file in use goes at the next restart.
bool DeleteKept(const KeepFolder& folder, HANDLE held, const char* keptName, ProgressReport& progress,
                const char* originalPath) {
  UniqueHandle kept;
  const ChildResult opened = OpenChild(held, keptName, 0, &kept);
  if (opened == ChildResult::Missing) return false;
  CountRunStep();
  if (opened == ChildResult::Done && DeleteOpen(kept.Get())) return false;
  kept.Reset();
  char path[kPathCapacity];
  CopyPath(path, folder.path);
  AppendPath(path, "\\");
  AppendPath(path, keptName);
  if (!MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return false;
  progress.DeletedAtRestart(originalPath);
  return true;
}

// Once marked done: the class values, the kept files, the folders, the keep folders,
// the entry, the record (with the journal inside it). The class values come after the
// mark, so that a removal killed before it leaves them whole and its undo (files back)
// is the whole installation again; after the mark the next start finishes them (each
// value is taken back only while it still holds what was written). True when a file
// waits for the restart.
bool Finish(RemovalRun& removal) {
  CountRunStep();
  const LONG classes = RestoreClassValues(removal.record, ViewOf(removal.options.is64BitWindows));
  if (classes != ERROR_SUCCESS)
    ProgressOf(removal.options)
        .StepFailed(FailureCause::ClassValuesNotRestored, "HKCR\\.qzp", static_cast<DWORD>(classes));
  bool pending = false;
  bool launcherLeft = false;
  UniqueHandle held[kKeepFolderCount];
  for (int i = 0; i < kKeepFolderCount; ++i) {
    removal.keep[i].held.Reset();
    if (removal.keep[i].path[0] != '\0') OpenKeepFolder(removal.keep[i], &held[i]);
  }
  for (int i = 0; i < removal.count; ++i) {
    const Removed& file = removal.files[i];
    if (file.keepFolder < 0 || file.keepFolder >= kKeepFolderCount || !held[file.keepFolder]) continue;
    const bool waits = DeleteKept(removal.keep[file.keepFolder], held[file.keepFolder].Get(), file.keptName,
                                  ProgressOf(removal.options), file.path);
    const char* launcher = removal.options.launcher;
    if (waits && launcher != nullptr && _stricmp(launcher, file.path) == 0) {
      launcherLeft = true;
    } else {
      pending = waits || pending;
    }
  }
  for (UniqueHandle& handle : held) handle.Reset();
  CountRunStep();
  RemoveFolders(removal.extraFolders, removal.extraFolderCount);
  RemoveRecordedFolders(removal.record);
  for (KeepFolder& folder : removal.keep)
    if (folder.path[0] != '\0') RemoveKeepFolder(folder, pending || launcherLeft);
  // The entry goes whole while it still names this installation's folder and uninstaller.
  CountRunStep();
  if (removal.record.uninstallEntry[0] != '\0')
    RemoveUninstallEntry(removal.options.is64BitWindows, removal.record.installDir, nullptr);
  removal.journal.Reset();
  CountRunStep();
  DeleteInstallationRecord(removal.options.is64BitWindows);
  return pending;
}

void EndJournal(RemovalRun& removal, bool is64BitWindows) {
  removal.journal.Reset();
  UniqueKey record;
  if (OpenInstallationRecord(is64BitWindows, false, record) == ERROR_SUCCESS) RegDeleteTreeA(record.Get(), "Removal");
}

// After a failure or a cancel: every file back, the keep folders and the journal gone.
void Undo(RemovalRun& removal) {
  const bool allBack = MoveBack(removal);
  for (KeepFolder& folder : removal.keep) {
    folder.held.Reset();
    if (folder.path[0] != '\0') RemoveKeepFolder(folder, false);
  }
  // A file that could not go back stays findable by the next start.
  if (allBack) {
    EndJournal(removal, removal.options.is64BitWindows);
  } else {
    removal.journal.Reset();
  }
}

bool OpenJournal(bool is64BitWindows, bool create, UniqueKey& key) {
  const REGSAM access = KEY_READ | KEY_WRITE | ViewOf(is64BitWindows);
  if (create)
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, kJournalKey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                           key.Receive(), nullptr) == ERROR_SUCCESS;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kJournalKey, 0, access, key.Receive()) == ERROR_SUCCESS;
}

}  // namespace

bool IsUnchanged(const RecordedFile& file) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(file.path, GetFileExInfoStandard, &data)) return false;
  const std::uint64_t size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  const std::uint64_t time = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                             data.ftLastWriteTime.dwLowDateTime;
  return size == file.size && time == file.writeTime;
}

int CountFilesToRemove(const InstallationRecord& record, bool removeData) {
  int count = 0;
  for (int i = 0; i < record.fileCount; ++i) {
    const RecordedFile& file = record.files[i];
    if (IsFile(file.path) && (file.kind == RecordedFileKind::Program || removeData || IsUnchanged(file))) ++count;
  }
  return count;
}

RemovalEnd RemoveInstallation(const InstallationRecord& record, const RemovalOptions& options) {
  ProgressReport& progress = ProgressOf(options);
  const std::unique_ptr<RemovalRun> removal(new (std::nothrow) RemovalRun(record, options));
  if (!removal) {
    progress.StepFailed(FailureCause::RemovalOutOfMemory, nullptr, ERROR_NOT_ENOUGH_MEMORY);
    progress.Finished(false);
    return RemovalEnd::Failed;
  }
  Plan(*removal);
  progress.Begin(removal->count);
  if (!OpenJournal(options.is64BitWindows, true, removal->journal)) {
    progress.StepFailed(FailureCause::JournalNotStarted, kJournalKey, ERROR_ACCESS_DENIED);
    progress.Finished(false);
    return RemovalEnd::Failed;
  }
  bool cancelled = false;
  bool moved = true;
  {
    FolderChain chain;
    for (int i = 0; i < removal->count && moved; ++i) {
      if (options.cancel != nullptr && options.cancel->load()) {
        cancelled = true;
        break;
      }
      progress.FileStarted(removal->files[i].path);
      moved = MoveAside(*removal, chain, i);
      if (!moved) progress.StepFailed(FailureCause::RemovalFileNotMoved, removal->files[i].path, GetLastError());
      progress.FilesDone(i + 1);
    }
  }
  const DWORD done = 1;
  if (cancelled || !moved || !SetJournalValue(*removal, kDoneValue, REG_DWORD, &done, sizeof(done)) ||
      RegFlushKey(removal->journal.Get()) != ERROR_SUCCESS) {
    if (moved && !cancelled) progress.StepFailed(FailureCause::JournalWriteFailed, kJournalKey, GetLastError());
    Undo(*removal);
    progress.Finished(false);
    return cancelled ? RemovalEnd::Cancelled : RemovalEnd::Failed;
  }
  const bool pending = Finish(*removal);
  progress.Finished(true);
  return pending ? RemovalEnd::RemovedRestartPending : RemovalEnd::Removed;
}

RemovalRecovery RecoverInterruptedRemoval(bool is64BitWindows) {
  UniqueKey journal;
  if (!OpenJournal(is64BitWindows, false, journal)) return RemovalRecovery::None;
  const std::unique_ptr<InstallationRecord> record(new (std::nothrow) InstallationRecord);
  if (!record) return RemovalRecovery::Failed;
  const bool recordRead = LoadInstallationRecord(is64BitWindows, *record);
  const RemovalOptions options{is64BitWindows, false, nullptr, nullptr};
  const std::unique_ptr<RemovalRun> removal(new (std::nothrow) RemovalRun(*record, options));
  if (!removal) return RemovalRecovery::Failed;
  for (int i = 0; i < kKeepFolderCount; ++i) {
    char name[8];
    std::snprintf(name, sizeof(name), "keep%d", i);
    DWORD size = kPathCapacity - 1;
    if (RegQueryValueExA(journal.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(removal->keep[i].path),
                         &size) != ERROR_SUCCESS)
      removal->keep[i].path[0] = '\0';
    else
      OpenKeepFolder(removal->keep[i], &removal->keep[i].held);
  }
  for (int i = 0; i < kMaxRemoved; ++i) {
    char name[16];
    std::snprintf(name, sizeof(name), "f%d", i);
    BYTE data[1 + kKeptNameSize + kPathCapacity] = {};
    DWORD size = sizeof(data) - 1;
    if (RegQueryValueExA(journal.Get(), name, nullptr, nullptr, data, &size) != ERROR_SUCCESS) break;
    Removed& file = removal->files[removal->count++];
    file.keepFolder = data[0] < kKeepFolderCount ? data[0] : -1;
    std::memcpy(file.keptName, data + 1, kKeptNameSize);
    file.keptName[kKeptNameSize - 1] = '\0';
    CopyPath(file.path, reinterpret_cast<const char*>(data + 1 + kKeptNameSize));
    file.moved = file.keepFolder >= 0 && removal->keep[file.keepFolder].held;
  }
  DWORD done = 0;
  DWORD size = sizeof(done);
  const bool marked =
      RegQueryValueExA(journal.Get(), kDoneValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&done), &size) ==
          ERROR_SUCCESS &&
      done == 1;
  removal->journal = std::move(journal);
  if (marked && recordRead) {
    Finish(*removal);
    return RemovalRecovery::Finished;
  }
  Undo(*removal);
  return RemovalRecovery::Undone;
}
