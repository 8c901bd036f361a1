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

}  // namespace

const char kRunJournalKey[] = "HKLM\\Software\\VelmorixSetup\\Run";

namespace {

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

REGSAM ViewOf(const InstallRun& run) { return run.request.is64BitWindows ? KEY_WOW64_64KEY : 0; }

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
bool WritePathRecord(const InstallRun& run, char kind, int index, int limit, const FileIdentity& identity,
                     const char* path) {
  if (!run.record.journal) return true;
  if (index < 0 || index >= limit) return false;
  Record record{};
  record.identity = identity;
  record.keepFolder = -1;
  CopyPath(record.path, path);
  return WriteRecord(run.record.journal.Get(), kind, index, record);
}

bool KeepFolderIndexValid(std::int32_t index) { return index >= 0 && index < kKeepFolderCount; }

// ERROR_SUCCESS also when there is no journal to delete.
LONG DeleteJournalKey(const InstallRun& run) {
  UniqueKey software;
  const LONG opened =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS | ViewOf(run), software.Receive());
  if (opened != ERROR_SUCCESS) return opened;
  CountRunStep();
  const LONG deleted = RegDeleteTreeA(software.Get(), kJournalOwner);
  return deleted == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : deleted;
}

bool MarkFlushed(const InstallRun& run, const char* value) {
  if (!run.record.journal) return true;
  const DWORD set = 1;
  return SetValue(run.record.journal.Get(), value, REG_DWORD, &set, sizeof(set)) && Flush(run.record.journal.Get());
}

// Appends a journalled kept file to the run's records.
void AddKept(const InstallRun& run, const Record& record) {
  KeptFile& into = run.record.keptFiles[run.record.keptFileCount++];
  into.keepFolder = record.keepFolder;
  into.moved = true;  // the journal cannot tell; its keep folder will
  CopyText(into.keptName, sizeof(into.keptName), record.keptName);
  CopyPath(into.path, record.path);
  into.key = NameKey(into.path);
}

// Reads the kept files planned before the run, record after record, each checked to
// end inside the value.
void LoadPlannedKept(HKEY key, const InstallRun& run) {
  DWORD batchSize = 0;
  DWORD batchType = 0;
  if (RegQueryValueExA(key, kPlannedKeptValue, nullptr, &batchType, nullptr, &batchSize) != ERROR_SUCCESS ||
      batchType != REG_BINARY || batchSize == 0)
    return;
  std::unique_ptr<unsigned char[]> batch(new (std::nothrow) unsigned char[batchSize]);
  if (!batch || RegQueryValueExA(key, kPlannedKeptValue, nullptr, nullptr, batch.get(), &batchSize) != ERROR_SUCCESS)
    return;
  std::size_t at = 0;
  while (run.record.keptFileCount < kMaxKeptFiles && batchSize - at > kRecordHead) {
    const std::size_t room = batchSize - at - kRecordHead;
    const char* path = reinterpret_cast<const char*>(batch.get() + at + kRecordHead);
    if (std::memchr(path, '\0', room < kPathCapacity ? room : kPathCapacity) == nullptr) break;
    Record record{};
    std::memcpy(&record.identity, batch.get() + at, sizeof(record.identity));
    std::memcpy(&record.keepFolder, batch.get() + at + offsetof(Record, keepFolder), sizeof(record.keepFolder));
    std::memcpy(record.keptName, batch.get() + at + offsetof(Record, keptName), sizeof(record.keptName));
    CopyPath(record.path, path);
    if (!KeepFolderIndexValid(record.keepFolder) || std::memchr(record.keptName, '\0', kKeptNameSize) == nullptr) break;
    AddKept(run, record);
    at += RecordSize(record);
  }
}

}  // namespace

bool BeginJournal(const InstallRun& run) {
  run.record.journal.Reset();
  DeleteJournalKey(run);
  DWORD disposition = 0;
  CountRunStep();
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kJournalKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS | ViewOf(run), nullptr, run.record.journal.Receive(),
                      &disposition) != ERROR_SUCCESS) {
    run.record.journal.Reset();
    return false;
  }
  bool written = true;
  for (int i = 0; i < kKeepFolderCount; ++i) written = JournalKeepFolder(run, i) && written;
  // One write for all the files planned to be kept, not one each.
  const int planned = run.record.keptFileCount < kMaxKeptFiles ? run.record.keptFileCount : kMaxKeptFiles;
  std::unique_ptr<unsigned char[]> batch(
      new (std::nothrow) unsigned char[static_cast<std::size_t>(planned) * sizeof(Record) + 1]);
  if (!batch) written = false;
  std::size_t used = 0;
  for (int i = 0; batch && i < planned; ++i) {
    const Record record = KeptRecord(run.record.keptFiles[i]);
    std::memcpy(batch.get() + used, &record, RecordSize(record));
    used += RecordSize(record);
  }
  if (written && used > 0)
    written = SetValue(run.record.journal.Get(), kPlannedKeptValue, REG_BINARY, batch.get(), used);
  for (int i = 0; written && i < run.record.createdFileCount; ++i) written = JournalCreatedFile(run, i);
  if (!written || !Flush(run.record.journal.Get())) {
    EndJournal(run);
    return false;
  }
  return true;
}

bool JournalKeepFolder(const InstallRun& run, int index) {
  if (!run.record.journal || !KeepFolderIndexValid(index) || run.record.keepFolders[index].path[0] == '\0') return true;
  const KeepFolder& folder = run.record.keepFolders[index];
  Record record{};
  record.identity = folder.identity;
  record.keepFolder = index;
  CopyPath(record.path, folder.path);
  return WriteRecord(run.record.journal.Get(), 'f', index, record);
}

bool JournalKeptFile(const InstallRun& run, int index) {
  if (!run.record.journal) return true;
  if (index < 0 || index >= kMaxKeptFiles) return false;
  return WriteRecord(run.record.journal.Get(), 'k', index, KeptRecord(run.record.keptFiles[index]));
}

bool JournalCreatedIntent(const InstallRun& run, const char* path) {
  return WritePathRecord(run, 'c', run.record.createdFileCount, kMaxCreatedFiles, FileIdentity{}, path);
}

bool JournalCreatedFile(const InstallRun& run, int index) {
  return index >= 0 && index < kMaxCreatedFiles &&
         WritePathRecord(run, 'c', index, kMaxCreatedFiles, run.record.createdFileIds[index],
                         run.record.createdFiles[index]);
}

bool JournalFolderIntent(const InstallRun& run, const char* path) {
  return WritePathRecord(run, 'd', run.record.createdFolderCount, kMaxCreatedFolders, FileIdentity{}, path);
}

bool JournalCreatedFolder(const InstallRun& run, int index) {
  return index >= 0 && index < kMaxCreatedFolders &&
         WritePathRecord(run, 'd', index, kMaxCreatedFolders, run.record.createdFolderIds[index],
                         run.record.createdFolders[index]);
}

bool JournalStep(const InstallRun& run, const char* name, const void* data, std::size_t size) {
  if (!run.record.journal) return true;
  return SetValue(run.record.journal.Get(), name, REG_BINARY, data, size) && Flush(run.record.journal.Get());
}

bool ReadJournalStep(const InstallRun& run, const char* name, std::unique_ptr<unsigned char[]>* data,
                     std::size_t* size) {
  DWORD type = 0;
  DWORD bytes = 0;
  if (!run.record.journal ||
      RegQueryValueExA(run.record.journal.Get(), name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
      type != REG_BINARY || bytes == 0)
    return false;
  data->reset(new (std::nothrow) unsigned char[bytes]);
  if (!*data ||
      RegQueryValueExA(run.record.journal.Get(), name, nullptr, &type, data->get(), &bytes) != ERROR_SUCCESS) {
    data->reset();
    return false;
  }
  *size = bytes;
  return true;
}

bool MarkJournalSucceeded(const InstallRun& run) { return MarkFlushed(run, kSucceededValue); }

bool MarkJournalRestartPending(const InstallRun& run) { return MarkFlushed(run, kRestartValue); }

LONG EndJournal(const InstallRun& run) {
  run.record.journal.Reset();
  return DeleteJournalKey(run);
}

JournalFound LoadJournal(const InstallRun& run, bool* succeeded) {
  const LSTATUS opened =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, kJournalKey, 0, KEY_ALL_ACCESS | ViewOf(run), run.record.journal.Receive());
  if (opened != ERROR_SUCCESS) {
    run.record.journal.Reset();
    return opened == ERROR_FILE_NOT_FOUND ? JournalFound::None : JournalFound::Unreadable;
  }
  HKEY key = run.record.journal.Get();
  DWORD mark = 0;
  DWORD markSize = sizeof(mark);
  DWORD markType = 0;
  *succeeded = RegQueryValueExA(key, kSucceededValue, nullptr, &markType, reinterpret_cast<BYTE*>(&mark),
                                &markSize) == ERROR_SUCCESS &&
               markType == REG_DWORD && mark == 1;
  Record record;
  for (int i = 0; i < kKeepFolderCount; ++i) {
    KeepFolder& folder = run.record.keepFolders[i];
    folder.path[0] = '\0';
    if (!ReadRecord(key, 'f', i, &record)) continue;
    folder.identity = record.identity;
    CopyPath(folder.path, record.path);
  }
  run.record.keptFileCount = 0;
  LoadPlannedKept(key, run);
  while (run.record.keptFileCount < kMaxKeptFiles && ReadRecord(key, 'k', run.record.keptFileCount, &record) &&
         KeepFolderIndexValid(record.keepFolder))
    AddKept(run, record);
  // A created file whose identity is zero was about to be created when the run ended.
  run.record.createdFileCount = 0;
  while (run.record.createdFileCount < kMaxCreatedFiles && ReadRecord(key, 'c', run.record.createdFileCount, &record)) {
    run.record.createdFileIds[run.record.createdFileCount] = record.identity;
    CopyPath(run.record.createdFiles[run.record.createdFileCount++], record.path);
  }
  run.record.createdFolderCount = 0;
  while (run.record.createdFolderCount < kMaxCreatedFolders &&
         ReadRecord(key, 'd', run.record.createdFolderCount, &record)) {
    run.record.createdFolderIds[run.record.createdFolderCount] = record.identity;
    CopyPath(run.record.createdFolders[run.record.createdFolderCount++], record.path);
  }
  return JournalFound::Loaded;
}
