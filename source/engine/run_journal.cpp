#include "engine/run_journal.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "engine/extraction_pace.h"
#include "engine/run_names.h"

namespace {

// HKEY_LOCAL_MACHINE\Software\VelmorixSetup is the installer's own; it is deleted whole
// when a run ends.
constexpr char kJournalOwner[] = "VelmorixSetup";
constexpr char kJournalKey[] = "Software\\VelmorixSetup\\Run";
constexpr char kSucceededValue[] = "succeeded";
constexpr char kRestartValue[] = "restart pending";

// One value per record: the identity (a keep folder's, a created file's; zero while
// the step is only intended), for kept files the keep folder's index and the file's
// name in it, then the path with its terminating zero. The kept files planned before
// the run go into one value, "kept", record after record.
struct Record {
  FileIdentity identity;
  std::int32_t keepFolder;
  char keptName[kKeptNameSize];
  char path[kPathCapacity];
};
constexpr std::size_t kRecordHead = offsetof(Record, path);
constexpr char kPlannedKeptValue[] = "kept";

std::size_t RecordSize(const Record& record) { return kRecordHead + std::strlen(record.path) + 1; }

Record KeptRecord(const KeptFile& kept) {
  Record record{};
  record.keepFolder = kept.keepFolder;
  CopyText(record.keptName, sizeof(record.keptName), kept.keptName);
  CopyPath(record.path, kept.path);
  return record;
}

void ValueName(char* out, char kind, int index) { std::snprintf(out, 16, "%c%d", kind, index); }

REGSAM ViewOf(const InstallerState& state) { return state.is64BitWindows ? KEY_WOW64_64KEY : 0; }

bool SetValue(HKEY key, const char* name, DWORD type, const void* data, std::size_t size) {
  CountRunStep();
  return RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)) ==
         ERROR_SUCCESS;
}

bool WriteRecord(HKEY key, char kind, int index, const Record& record) {
  char name[16];
  ValueName(name, kind, index);
  return SetValue(key, name, REG_BINARY, &record, RecordSize(record));
}

bool Flush(HKEY key) {
  CountRunStep();
  return RegFlushKey(key) == ERROR_SUCCESS;
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
  // The texts must end inside what was read.
  return std::memchr(record->keptName, '\0', sizeof(record->keptName)) != nullptr &&
         std::memchr(record->path, '\0', size - kRecordHead) != nullptr;
}

// A created file's or folder's record `kind``index` (below `limit`) while the journal
// is open; a zero identity records the intent before the creation.
bool WritePathRecord(InstallerState& state, char kind, int index, int limit, const FileIdentity& identity,
                     const char* path) {
  if (!state.journal) return true;
  if (index < 0 || index >= limit) return false;
  Record record{};
  record.identity = identity;
  record.keepFolder = -1;
  CopyPath(record.path, path);
  return WriteRecord(state.journal.Get(), kind, index, record);
}

bool KeepFolderIndexValid(std::int32_t index) { return index >= 0 && index < kKeepFolderCount; }

void DeleteJournalKey(const InstallerState& state) {
  UniqueKey software;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS | ViewOf(state), software.Receive()) !=
      ERROR_SUCCESS)
    return;
  CountRunStep();
  RegDeleteTreeA(software.Get(), kJournalOwner);
}

bool MarkFlushed(InstallerState& state, const char* value) {
  if (!state.journal) return true;
  const DWORD set = 1;
  return SetValue(state.journal.Get(), value, REG_DWORD, &set, sizeof(set)) && Flush(state.journal.Get());
}

// Appends a journalled kept file to the run's records.
void AddKept(InstallerState& state, const Record& record) {
  KeptFile& into = state.keptFiles[state.keptFileCount++];
  into.keepFolder = record.keepFolder;
  into.moved = true;  // the journal cannot tell; its keep folder will
  CopyText(into.keptName, sizeof(into.keptName), record.keptName);
  CopyPath(into.path, record.path);
  into.key = NameKey(into.path);
}

// Reads the kept files planned before the run, record after record, each checked to
// end inside the value.
void LoadPlannedKept(HKEY key, InstallerState& state) {
  DWORD batchSize = 0;
  DWORD batchType = 0;
  if (RegQueryValueExA(key, kPlannedKeptValue, nullptr, &batchType, nullptr, &batchSize) != ERROR_SUCCESS ||
      batchType != REG_BINARY || batchSize == 0)
    return;
  std::unique_ptr<unsigned char[]> batch(new (std::nothrow) unsigned char[batchSize]);
  if (!batch || RegQueryValueExA(key, kPlannedKeptValue, nullptr, nullptr, batch.get(), &batchSize) != ERROR_SUCCESS)
    return;
  std::size_t at = 0;
  while (state.keptFileCount < kMaxKeptFiles && batchSize - at > kRecordHead) {
    const std::size_t room = batchSize - at - kRecordHead;
    const char* path = reinterpret_cast<const char*>(batch.get() + at + kRecordHead);
    if (std::memchr(path, '\0', room < kPathCapacity ? room : kPathCapacity) == nullptr) break;
    Record record{};
    std::memcpy(&record.identity, batch.get() + at, sizeof(record.identity));
    std::memcpy(&record.keepFolder, batch.get() + at + offsetof(Record, keepFolder), sizeof(record.keepFolder));
    std::memcpy(record.keptName, batch.get() + at + offsetof(Record, keptName), sizeof(record.keptName));
    CopyPath(record.path, path);
    if (!KeepFolderIndexValid(record.keepFolder) || std::memchr(record.keptName, '\0', kKeptNameSize) == nullptr) break;
    AddKept(state, record);
    at += RecordSize(record);
  }
}

}  // namespace

bool BeginJournal(InstallerState& state) {
  state.journal.Reset();
  DeleteJournalKey(state);
  DWORD disposition = 0;
  CountRunStep();
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kJournalKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS | ViewOf(state), nullptr, state.journal.Receive(), &disposition) != ERROR_SUCCESS) {
    state.journal.Reset();
    return false;
  }
  bool written = true;
  for (int i = 0; i < kKeepFolderCount; ++i) written = JournalKeepFolder(state, i) && written;
  // One write for all the files planned to be kept, not one each.
  const int planned = state.keptFileCount < kMaxKeptFiles ? state.keptFileCount : kMaxKeptFiles;
  std::unique_ptr<unsigned char[]> batch(
      new (std::nothrow) unsigned char[static_cast<std::size_t>(planned) * sizeof(Record) + 1]);
  if (!batch) written = false;
  std::size_t used = 0;
  for (int i = 0; batch && i < planned; ++i) {
    const Record record = KeptRecord(state.keptFiles[i]);
    std::memcpy(batch.get() + used, &record, RecordSize(record));
    used += RecordSize(record);
  }
  if (written && used > 0) written = SetValue(state.journal.Get(), kPlannedKeptValue, REG_BINARY, batch.get(), used);
  for (int i = 0; written && i < state.createdFileCount; ++i) written = JournalCreatedFile(state, i);
  if (!written || !Flush(state.journal.Get())) {
    EndJournal(state);
    return false;
  }
  return true;
}

bool JournalKeepFolder(InstallerState& state, int index) {
  if (!state.journal || !KeepFolderIndexValid(index) || state.keepFolders[index].path[0] == '\0') return true;
  const KeepFolder& folder = state.keepFolders[index];
  Record record{};
  record.identity = folder.identity;
  record.keepFolder = index;
  CopyPath(record.path, folder.path);
  return WriteRecord(state.journal.Get(), 'f', index, record);
}

bool JournalKeptFile(InstallerState& state, int index) {
  if (!state.journal) return true;
  if (index < 0 || index >= kMaxKeptFiles) return false;
  return WriteRecord(state.journal.Get(), 'k', index, KeptRecord(state.keptFiles[index]));
}

bool JournalCreatedIntent(InstallerState& state, const char* path) {
  return WritePathRecord(state, 'c', state.createdFileCount, kMaxCreatedFiles, FileIdentity{}, path);
}

bool JournalCreatedFile(InstallerState& state, int index) {
  return index >= 0 && index < kMaxCreatedFiles &&
         WritePathRecord(state, 'c', index, kMaxCreatedFiles, state.createdFileIds[index], state.createdFiles[index]);
}

bool JournalFolderIntent(InstallerState& state, const char* path) {
  return WritePathRecord(state, 'd', state.createdFolderCount, kMaxCreatedFolders, FileIdentity{}, path);
}

bool JournalCreatedFolder(InstallerState& state, int index) {
  return index >= 0 && index < kMaxCreatedFolders &&
         WritePathRecord(state, 'd', index, kMaxCreatedFolders, state.createdFolderIds[index],
                         state.createdFolders[index]);
}

bool JournalStep(InstallerState& state, const char* name, const void* data, std::size_t size) {
  if (!state.journal) return true;
  return SetValue(state.journal.Get(), name, REG_BINARY, data, size) && Flush(state.journal.Get());
}

bool ReadJournalStep(const InstallerState& state, const char* name, std::unique_ptr<unsigned char[]>* data,
                     std::size_t* size) {
  DWORD type = 0;
  DWORD bytes = 0;
  if (!state.journal ||
      RegQueryValueExA(state.journal.Get(), name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
      type != REG_BINARY || bytes == 0)
    return false;
  data->reset(new (std::nothrow) unsigned char[bytes]);
  if (!*data || RegQueryValueExA(state.journal.Get(), name, nullptr, &type, data->get(), &bytes) != ERROR_SUCCESS) {
    data->reset();
    return false;
  }
  *size = bytes;
  return true;
}

bool MarkJournalSucceeded(InstallerState& state) { return MarkFlushed(state, kSucceededValue); }

bool MarkJournalRestartPending(InstallerState& state) { return MarkFlushed(state, kRestartValue); }

void EndJournal(InstallerState& state) {
  state.journal.Reset();
  DeleteJournalKey(state);
}

JournalFound LoadJournal(InstallerState& state, bool* succeeded) {
  const LSTATUS opened =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, kJournalKey, 0, KEY_ALL_ACCESS | ViewOf(state), state.journal.Receive());
  if (opened != ERROR_SUCCESS) {
    state.journal.Reset();
    return opened == ERROR_FILE_NOT_FOUND ? JournalFound::None : JournalFound::Unreadable;
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
  LoadPlannedKept(key, state);
  while (state.keptFileCount < kMaxKeptFiles && ReadRecord(key, 'k', state.keptFileCount, &record) &&
         KeepFolderIndexValid(record.keepFolder))
    AddKept(state, record);
  // A created file whose identity is zero was about to be created when the run ended.
  state.createdFileCount = 0;
  while (state.createdFileCount < kMaxCreatedFiles && ReadRecord(key, 'c', state.createdFileCount, &record)) {
    state.createdFileIds[state.createdFileCount] = record.identity;
    CopyPath(state.createdFiles[state.createdFileCount++], record.path);
  }
  state.createdFolderCount = 0;
  while (state.createdFolderCount < kMaxCreatedFolders && ReadRecord(key, 'd', state.createdFolderCount, &record)) {
    state.createdFolderIds[state.createdFolderCount] = record.identity;
    CopyPath(state.createdFolders[state.createdFolderCount++], record.path);
  }
  return JournalFound::Loaded;
}
