#include "engine/run_journal.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "engine/run_files.h"
#include "shared/platform.h"

namespace {

// HKEY_LOCAL_MACHINE\Software\VelmorixSetup is the installer's own; it is deleted whole
// when a run ends.
constexpr char kJournalOwner[] = "VelmorixSetup";
constexpr char kJournalKey[] = "Software\\VelmorixSetup\\Run";
constexpr char kSucceededValue[] = "succeeded";

// One value per record: the identity (a keep folder's, a created file's), for kept
// files the keep folder's index, then the path with its terminating zero. The kept
// files planned before the run go into one value, "kept", record after record.
struct Record {
  FileIdentity identity;
  std::int32_t keepFolder;
  char path[kPathCapacity];
};
constexpr std::size_t kRecordHead = sizeof(FileIdentity) + sizeof(std::int32_t);
constexpr char kPlannedKeptValue[] = "kept";

std::size_t RecordSize(const Record& record) { return kRecordHead + std::strlen(record.path) + 1; }

Record KeptRecord(const KeptFile& kept) {
  Record record{};
  record.keepFolder = kept.keepFolder;
  CopyPath(record.path, kept.path);
  return record;
}

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
  // One write for all the files planned to be kept, not one each.
  const int planned = state.keptFileCount < kMaxKeptFiles ? state.keptFileCount : kMaxKeptFiles;
  std::unique_ptr<unsigned char[]> batch(
      new (std::nothrow) unsigned char[static_cast<std::size_t>(planned) * sizeof(Record) + 1]);
  if (!batch) {
    EndJournal(state);
    return false;
  }
  std::size_t used = 0;
  for (int i = 0; i < planned; ++i) {
    const Record record = KeptRecord(state.keptFiles[i]);
    std::memcpy(batch.get() + used, &record, RecordSize(record));
    used += RecordSize(record);
  }
  RegSetValueExA(state.journal.Get(), kPlannedKeptValue, 0, REG_BINARY, batch.get(), static_cast<DWORD>(used));
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
  WriteRecord(state.journal.Get(), 'k', index, FileIdentity{}, kept.keepFolder, kept.path);
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
  const auto addKept = [&state](const Record& kept) {
    KeptFile& into = state.keptFiles[state.keptFileCount++];
    into.keepFolder = kept.keepFolder;
    into.moved = true;  // the journal cannot tell; its keep folder will
    CopyPath(into.path, kept.path);
    into.key = NameKey(into.path);
  };
  DWORD batchSize = 0;
  DWORD batchType = 0;
  if (RegQueryValueExA(key, kPlannedKeptValue, nullptr, &batchType, nullptr, &batchSize) == ERROR_SUCCESS &&
      batchType == REG_BINARY && batchSize > 0) {
    std::unique_ptr<unsigned char[]> batch(new (std::nothrow) unsigned char[batchSize]);
    if (batch && RegQueryValueExA(key, kPlannedKeptValue, nullptr, nullptr, batch.get(), &batchSize) == ERROR_SUCCESS) {
      // Record after record, each checked to end inside the value.
      std::size_t at = 0;
      while (state.keptFileCount < kMaxKeptFiles && batchSize - at > kRecordHead) {
        const std::size_t room = batchSize - at - kRecordHead;
        const char* path = reinterpret_cast<const char*>(batch.get() + at + kRecordHead);
        const void* end = std::memchr(path, '\0', room < kPathCapacity ? room : kPathCapacity);
        if (end == nullptr) break;
        record = Record{};
        std::memcpy(&record.identity, batch.get() + at, sizeof(record.identity));
        std::memcpy(&record.keepFolder, batch.get() + at + sizeof(record.identity), sizeof(record.keepFolder));
        CopyPath(record.path, path);
        if (!KeepFolderIndexValid(record.keepFolder)) break;
        addKept(record);
        at += RecordSize(record);
      }
    }
  }
  while (state.keptFileCount < kMaxKeptFiles && ReadRecord(key, 'k', state.keptFileCount, &record) &&
         KeepFolderIndexValid(record.keepFolder))
    addKept(record);
  state.createdFileCount = 0;
  while (state.createdFileCount < kMaxCreatedFiles && ReadRecord(key, 'c', state.createdFileCount, &record)) {
    state.createdFileIds[state.createdFileCount] = record.identity;
    CopyPath(state.createdFiles[state.createdFileCount++], record.path);
  }
  return true;
}
