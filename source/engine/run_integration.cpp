#include "engine/run_integration.h"

#include <cstring>
#include <memory>
#include <new>

#include "engine/installation_record.h"
#include "engine/run_journal.h"
#include "integration/file_association.h"
#include "integration/registry_writer.h"
#include "integration/uninstall_registration.h"
#include "shared/command_text.h"
#include "shared/raii.h"
#include "shared/texts.h"

namespace {

// Each step's record: the install folder (terminated), then what the step needs.
const char* const kShortcutStep[2] = {"shortcut 0", "shortcut 1"};
constexpr char kEntryStep[] = "uninstall entry";
constexpr char kAssociationStep[] = "association";
constexpr char kRecordStep[] = "installation record";

// An earlier file at a shortcut's name is kept in the step's record, up to this size
// (a shortcut takes a few KiB); a larger one, or one that cannot be read, is not
// replaced: the shortcut is not made.
constexpr std::size_t kEarlierShortcutCapacity = 1024 * 1024;
// A shortcut's record after the folder: made-folder flag, had-earlier flag, the link
// path, the earlier file's bytes.
constexpr std::size_t kShortcutHead = 2;

REGSAM ViewOf(const InstallRun& run) { return run.request.is64BitWindows ? KEY_WOW64_64KEY : 0; }

// A step's record under construction: the install folder first.
class StepRecord {
 public:
  explicit StepRecord(const InstallRun& run, std::size_t room) {
    const std::size_t folder = BoundedLength(run.request.installDir, kPathCapacity - 1) + 1;
    bytes_.reset(new (std::nothrow) unsigned char[folder + room]);
    if (!bytes_) return;
    std::memcpy(bytes_.get(), run.request.installDir, folder - 1);
    bytes_[folder - 1] = '\0';
    used_ = folder;
    capacity_ = folder + room;
  }
  bool Ok() const { return bytes_ != nullptr; }
  // Something of the record did not fit: it is not journalled.
  void Drop() { bytes_.reset(); }
  unsigned char* Tail() { return bytes_ ? bytes_.get() + used_ : nullptr; }
  std::size_t Room() const { return capacity_ - used_; }
  void Grow(std::size_t count) { used_ += count < Room() ? count : Room(); }
  // Journals the record; on failure the step's failure is reported.
  bool Journal(const InstallRun& run, const char* name) {
    if (bytes_ && JournalStep(run, name, bytes_.get(), used_)) return true;
    return run.Fail(FailureCause::StepNotJournalled, kRunJournalKey, bytes_ ? GetLastError() : ERROR_OUTOFMEMORY);
  }

 private:
  std::unique_ptr<unsigned char[]> bytes_;
  std::size_t used_ = 0;
  std::size_t capacity_ = 0;
};

// A journalled step read back: its install folder and what follows it.
struct LoadedStep {
  std::unique_ptr<unsigned char[]> bytes;
  std::size_t size = 0;
  const char* installDir = nullptr;
  const unsigned char* rest = nullptr;
  std::size_t restSize = 0;
};

bool LoadStep(const InstallRun& run, const char* name, LoadedStep* step) {
  if (!ReadJournalStep(run, name, &step->bytes, &step->size)) return false;
  const void* end = std::memchr(step->bytes.get(), '\0', step->size < kPathCapacity ? step->size : kPathCapacity);
  if (end == nullptr) return false;
  step->installDir = reinterpret_cast<const char*>(step->bytes.get());
  step->rest = static_cast<const unsigned char*>(end) + 1;
  step->restSize = step->size - static_cast<std::size_t>(step->rest - step->bytes.get());
  return true;
}

// The plain file at a shortcut's name (no link followed), opened to be kept.
struct EarlierFile {
  UniqueHandle file;
  DWORD size = 0;
  // ERROR_SUCCESS when there is none or it is open; else why it cannot be kept.
  DWORD error = ERROR_SUCCESS;
};

EarlierFile OpenEarlierFile(const char* path) {
  EarlierFile earlier;
  earlier.file.Reset(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!earlier.file) {
    const DWORD error = GetLastError();
    // Nothing there; a folder there takes no shortcut anyway.
    const DWORD attributes = GetFileAttributesA(path);
    const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && !folder) earlier.error = error;
    return earlier;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(earlier.file.Get(), &information)) {
    earlier.error = GetLastError();
  } else if (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
    earlier.file.Reset();  // not a file the shortcut replaces
  } else if (information.nFileSizeHigh != 0 || information.nFileSizeLow > kEarlierShortcutCapacity) {
    earlier.error = ERROR_FILE_TOO_LARGE;
  } else {
    earlier.size = information.nFileSizeLow;
  }
  return earlier;
}

// Writes `size` bytes as a new file at `path`; nothing stands there (the rename-free
// creation fails on anything that does).
bool WriteNewFile(const char* path, const unsigned char* bytes, std::size_t size) {
  UniqueHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file && WriteFile(file.Get(), bytes, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

RemovalResult Failed(unsigned long code) { return {Removal::Failed, code}; }

// The association's records, one per class key.
struct AssociationRecords {
  ReplacedKey keys[kAssociationKeyCount];
};

RemovalResult TakeBackShortcut(const LoadedStep& step) {
  if (step.restSize < kShortcutHead + 1) return Failed(ERROR_INVALID_DATA);
  const char* link = reinterpret_cast<const char*>(step.rest + kShortcutHead);
  const void* end = std::memchr(link, '\0', step.restSize - kShortcutHead);
  if (end == nullptr || static_cast<const char*>(end) - link >= static_cast<long>(kPathCapacity))
    return Failed(ERROR_INVALID_DATA);
  const auto* earlier = static_cast<const unsigned char*>(end) + 1;
  const std::size_t earlierSize = step.restSize - static_cast<std::size_t>(earlier - step.rest);
  char programExePath[kPathCapacity];
  if (!JoinPathWhole(programExePath, sizeof(programExePath), step.installDir, texts::kProgramExeTail))
    return {Removal::NotOurs, 0};
  const RemovalResult removed = RemoveProgramShortcut(link, programExePath);
  if (removed.outcome == Removal::Removed && step.rest[1] != 0 && !WriteNewFile(link, earlier, earlierSize))
    return Failed(GetLastError());
  if (step.rest[0] != 0) {
    // The maker's folder the run made goes while nothing else is in it.
    char folder[kPathCapacity];
    CopyPath(folder, link);
    char* last = std::strrchr(folder, '\\');
    if (last != nullptr) {
      *last = '\0';
      RemoveDirectoryA(folder);
    }
  }
  return removed;
}

// The association's five packed records, one after the other.
RemovalResult TakeBackAssociation(const InstallRun& run, const LoadedStep& step) {
  const std::unique_ptr<AssociationRecords> records(new (std::nothrow) AssociationRecords);
  if (!records) return Failed(ERROR_OUTOFMEMORY);
  std::size_t at = 0;
  for (ReplacedKey& key : records->keys) {
    const std::size_t used = UnpackReplacedKey(step.rest + at, step.restSize - at, key);
    if (used == 0) return Failed(ERROR_INVALID_DATA);
    at += used;
  }
  return RemoveFileAssociation(run.request.is64BitWindows != 0, step.installDir, records->keys);
}

RemovalResult TakeBackEntry(const InstallRun& run, const LoadedStep& step) {
  const std::unique_ptr<ReplacedKey> key(new (std::nothrow) ReplacedKey);
  if (!key) return Failed(ERROR_OUTOFMEMORY);
  if (UnpackReplacedKey(step.rest, step.restSize, *key) == 0) return Failed(ERROR_INVALID_DATA);
  return RemoveUninstallEntry(run.request.is64BitWindows != 0, step.installDir, key.get());
}

// Packs `count` records into the step's record after the install folder.
bool JournalReplacedKeys(const InstallRun& run, const char* name, const ReplacedKey* keys, std::size_t count) {
  StepRecord record(run, count * kPackedKeyCapacity);
  for (std::size_t i = 0; record.Ok() && i < count; ++i) {
    const std::size_t used = PackReplacedKey(keys[i], record.Tail(), record.Room());
    if (used == 0) record.Drop();
    record.Grow(used);
  }
  return record.Journal(run, name);
}

}  // namespace

bool JournalledShortcuts::WillMake(int index, const char* linkPath, bool makesFolder) {
  if (index < 0 || index > 1) return false;
  // An earlier file that cannot be kept fails the shortcut, as one that cannot be saved.
  const FailureCause unkept = index == 0 ? FailureCause::DesktopShortcutFailed : FailureCause::StartMenuShortcutFailed;
  const EarlierFile earlier = OpenEarlierFile(linkPath);
  if (earlier.error != ERROR_SUCCESS) return run_.Fail(unkept, linkPath, earlier.error);
  StepRecord record(run_, kShortcutHead + kPathCapacity + earlier.size);
  if (record.Ok()) {
    unsigned char* head = record.Tail();
    const std::size_t linkSize = BoundedLength(linkPath, kPathCapacity - 1) + 1;
    head[0] = makesFolder ? 1 : 0;
    head[1] = earlier.file ? 1 : 0;
    std::memcpy(head + kShortcutHead, linkPath, linkSize - 1);
    head[kShortcutHead + linkSize - 1] = '\0';
    DWORD read = 0;
    const BOOL readOk =
        !earlier.file || ReadFile(earlier.file.Get(), head + kShortcutHead + linkSize, earlier.size, &read, nullptr);
    if (!readOk || (earlier.file && read != earlier.size))
      return run_.Fail(unkept, linkPath, readOk ? ERROR_READ_FAULT : GetLastError());
    record.Grow(kShortcutHead + linkSize + earlier.size);
  }
  return record.Journal(run_, kShortcutStep[index]);
}

bool JournalUninstallEntryStep(const InstallRun& run) {
  const std::unique_ptr<ReplacedKey> replaced(new (std::nothrow) ReplacedKey);
  const LONG read =
      replaced ? RecordUninstallEntryReplaced(run.request.is64BitWindows != 0, *replaced) : ERROR_OUTOFMEMORY;
  if (read != ERROR_SUCCESS) {
    run.Fail(FailureCause::UninstallEntryUnreadable, texts::kUninstallKeyPath, static_cast<unsigned long>(read));
    return false;
  }
  return JournalReplacedKeys(run, kEntryStep, replaced.get(), 1);
}

bool JournalAssociationStep(const InstallRun& run) {
  const std::unique_ptr<AssociationRecords> replaced(new (std::nothrow) AssociationRecords);
  const LONG read =
      replaced ? RecordAssociationReplaced(run.request.is64BitWindows != 0, replaced->keys) : ERROR_OUTOFMEMORY;
  if (read != ERROR_SUCCESS) {
    run.Fail(FailureCause::AssociationUnreadable, "HKCR\\.qzp", static_cast<unsigned long>(read));
    return false;
  }
  return JournalReplacedKeys(run, kAssociationStep, replaced->keys, kAssociationKeyCount);
}

bool JournalInstallationRecordStep(const InstallRun& run) {
  UniqueKey existing;
  const LONG opened =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallationRecordKey, 0, KEY_QUERY_VALUE | ViewOf(run), existing.Receive());
  existing.Reset();
  if (opened != ERROR_SUCCESS && opened != ERROR_FILE_NOT_FOUND) {
    return run.Fail(FailureCause::RecordNotSaved, kInstallationRecordKey, static_cast<unsigned long>(opened));
  }
  // A record that stands is copied whole before the journal says so: an undo never
  // puts back a copy half made (a copy left by a kill before the journal is replaced
  // by the next run's, or deleted when a run stands).
  const bool replaces = opened == ERROR_SUCCESS;
  if (replaces) {
    const LONG kept = KeepEarlierInstallationRecord(run.request.is64BitWindows != 0);
    if (kept != ERROR_SUCCESS)
      return run.Fail(FailureCause::RecordNotSaved, kInstallationRecordKey, static_cast<unsigned long>(kept));
  }
  StepRecord record(run, 1);
  if (record.Ok() && replaces) {
    *record.Tail() = 1;
    record.Grow(1);
  }
  return record.Journal(run, kRecordStep);
}

bool TakeBackIntegration(const InstallRun& run) {
  if (!run.record.journal) return true;
  RemovalResult result = {Removal::Absent, 0};
  // Each step journalled, read back and taken back, then told when something went
  // (`told` is read after the undo, which may choose it).
  const auto takeBack = [&](const char* name, const char* const& told, const char* what, auto undo) {
    LoadedStep step;
    if (!LoadStep(run, name, &step)) return;
    const RemovalResult outcome = undo(step);
    const char* concerned = what ? what : reinterpret_cast<const char*>(step.rest + kShortcutHead);
    if (outcome.outcome == Removal::Removed) run.Listener().TakenBack(told, concerned);
    if (outcome.outcome == Removal::Failed)
      run.Listener().StepFailed(FailureCause::StepNotTakenBack, concerned, outcome.code);
    result = CombineRemovals(result, outcome);
  };
  char recordKey[kPathCapacity];
  char entryKey[kPathCapacity];
  CopyPath(recordKey, "HKLM\\");
  AppendPath(recordKey, kInstallationRecordKey);
  CopyPath(entryKey, "HKLM\\");
  AppendPath(entryKey, texts::kUninstallKeyPath);
  // The record the run made goes; one it rewrote is put back as the run found it.
  const char* recordTold = "installation record removed";
  takeBack(kRecordStep, recordTold, recordKey, [&](const LoadedStep& step) {
    const bool is64 = run.request.is64BitWindows != 0;
    if (step.restSize > 0 && step.rest[0] == 1) {
      recordTold = "installation record put back";
      const LONG put = PutBackEarlierInstallationRecord(is64);
      return put == ERROR_SUCCESS ? RemovalResult{Removal::Removed, 0} : Failed(static_cast<unsigned long>(put));
    }
    return DeleteInstallationRecord(is64) ? RemovalResult{Removal::Removed, 0} : Failed(ERROR_ACCESS_DENIED);
  });
  takeBack(kAssociationStep, "file type association removed", ".qzp",
           [&](const LoadedStep& step) { return TakeBackAssociation(run, step); });
  takeBack(kEntryStep, "uninstall entry removed", entryKey,
           [&](const LoadedStep& step) { return TakeBackEntry(run, step); });
  const ComApartment com(CoInitialize(nullptr));
  for (int i = 1; i >= 0; --i) {
    takeBack(kShortcutStep[i], "shortcut removed", nullptr, [&](const LoadedStep& step) {
      return FAILED(com.Result()) ? Failed(static_cast<unsigned long>(com.Result())) : TakeBackShortcut(step);
    });
  }
  return result.outcome != Removal::Failed;
}
