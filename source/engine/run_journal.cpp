#include "engine/run_journal.h"

#include <cstdio>
#include <cstring>

#include "shared/platform.h"

namespace {

// HKEY_LOCAL_MACHINE\Software\VelmorixSetup is the installer's own; it is deleted whole
// when a run ends.
constexpr char kJournalOwner[] = "VelmorixSetup";
constexpr char kJournalKey[] = "Software\\VelmorixSetup\\Run";
constexpr char kSucceededValue[] = "succeeded";

// One value per record: the identity, for kept files the keep folder's index, then the
// path with its terminating zero.
struct Record {
  FileIdentity identity;
  std::int32_t keepFolder;
  char path[kPathCapacity];
};
constexpr std::size_t kRecordHead = sizeof(FileIdentity) + sizeof(std::int32_t);

void ValueName(char* out, char kind, int index) { std::snprintf(out, 16, "%c%d", kind, index); }

REGSAM ViewOf(const InstallerState& state) { return state.is64BitWindows ? KEY_WOW64_64KEY : 0; }

void WriteRecord(HKEY key, char kind, int index, const FileIdentity& identity, std::int32_t keepFolder,
                 const char* path) {
  Record record{};
  record.identity = identity;
  record.keepFolder = keepFolder;
  CopyPath(record.path, path);
  char name[16];
  ValueName(name, kind, index);
  const auto size = static_cast<DWORD>(kRecordHead + std::strlen(record.path) + 1);
  RegSetValueExA(key, name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(&record), size);
}

// Reads record `kind``index`; false when there is none or it is malformed.
bool ReadRecord(HKEY key, char kind, int index, Record* record) {
  char name[16];
  ValueName(name, kind, index);
  DWORD type = 0;
  DWORD size = sizeof(*record);
  *record = Record{};
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(record), &size) != ERROR_SUCCESS ||
      type != REG_BINARY || size <= kRecordHead)
    return false;
  // The path must end inside what was read.
  return std::memchr(record->path, '\0', size - kRecordHead) != nullptr;
}

bool KeepFolderIndexValid(std::int32_t index) { return index >= 0 && index < kKeepFolderCount; }

void DeleteJournalKey(const InstallerState& state) {
  UniqueKey software;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS | ViewOf(state), software.Receive()) !=
      ERROR_SUCCESS)
    return;
  RegDeleteTreeA(software.Get(), kJournalOwner);
}

}  // namespace

bool BeginJournal(InstallerState& state) {
  state.journal.Reset();
  DeleteJournalKey(state);
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kJournalKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS | ViewOf(state), nullptr, state.journal.Receive(), &disposition) != ERROR_SUCCESS) {
    state.journal.Reset();
    return false;
  }
  for (int i = 0; i < kKeepFolderCount; ++i) JournalKeepFolder(state, i);
  for (int i = 0; i < state.keptFileCount; ++i) JournalKeptFile(state, i);
  for (int i = 0; i < state.createdFileCount; ++i) JournalCreatedFile(state, i);
  if (RegFlushKey(state.journal.Get()) != ERROR_SUCCESS) {
    EndJournal(state);
    return false;
  }
  return true;
}

void JournalKeepFolder(InstallerState& state, int index) {
  if (!state.journal || !KeepFolderIndexValid(index) || state.keepFolders[index].path[0] == '\0') return;
  const KeepFolder& folder = state.keepFolders[index];
  WriteRecord(state.journal.Get(), 'f', index, folder.identity, index, folder.path);
}

void JournalKeptFile(InstallerState& state, int index) {
  if (!state.journal || index < 0 || index >= kMaxKeptFiles) return;
  const KeptFile& kept = state.keptFiles[index];
  WriteRecord(state.journal.Get(), 'k', index, kept.identity, kept.keepFolder, kept.path);
}

void JournalCreatedFile(InstallerState& state, int index) {
  if (!state.journal || index < 0 || index >= kMaxCreatedFiles) return;
  WriteRecord(state.journal.Get(), 'c', index, state.createdFileIds[index], -1, state.createdFiles[index]);
}

void MarkJournalSucceeded(InstallerState& state) {
  if (!state.journal) return;
  const DWORD succeeded = 1;
  RegSetValueExA(state.journal.Get(), kSucceededValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&succeeded),
                 sizeof(succeeded));
  RegFlushKey(state.journal.Get());
}

void EndJournal(InstallerState& state) {
  state.journal.Reset();
  DeleteJournalKey(state);
}

bool LoadJournal(InstallerState& state, bool* succeeded) {
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kJournalKey, 0, KEY_ALL_ACCESS | ViewOf(state), state.journal.Receive()) !=
      ERROR_SUCCESS) {
    state.journal.Reset();
    return false;
  }
  HKEY key = state.journal.Get();
  DWORD mark = 0;
  DWORD markSize = sizeof(mark);
  DWORD markType = 0;
  *succeeded = RegQueryValueExA(key, kSucceededValue, nullptr, &markType, reinterpret_cast<BYTE*>(&mark),
                                &markSize) == ERROR_SUCCESS &&
               markType == REG_DWORD && mark == 1;
  Record record;
  for (int i = 0; i < kKeepFolderCount; ++i) {
    KeepFolder& folder = state.keepFolders[i];
    folder.path[0] = '\0';
    if (!ReadRecord(key, 'f', i, &record)) continue;
    folder.identity = record.identity;
    CopyPath(folder.path, record.path);
  }
  state.keptFileCount = 0;
  while (state.keptFileCount < kMaxKeptFiles && ReadRecord(key, 'k', state.keptFileCount, &record) &&
         KeepFolderIndexValid(record.keepFolder)) {
    KeptFile& kept = state.keptFiles[state.keptFileCount++];
    kept.identity = record.identity;
    kept.keepFolder = record.keepFolder;
    CopyPath(kept.path, record.path);
  }
  state.createdFileCount = 0;
  while (state.createdFileCount < kMaxCreatedFiles && ReadRecord(key, 'c', state.createdFileCount, &record)) {
    state.createdFileIds[state.createdFileCount] = record.identity;
    CopyPath(state.createdFiles[state.createdFileCount++], record.path);
  }
  return true;
}
