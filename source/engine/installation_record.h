// The record of what an installation put on the machine, kept under
// HKEY_LOCAL_MACHINE (only administrators write there) for the uninstaller: every file
// written with its size and last write time (so that a file changed since can be told
// apart), every folder created that did not stand before, the shortcuts, the uninstall
// entry and every class key and value with what it replaced. A successful run adds to
// the record (a reinstallation's files join the earlier ones); a failed or cancelled
// run writes nothing.
#pragma once
#include <windows.h>

#include <cstdint>

#include "engine/install_run.h"
#include "shared/progress_report.h"

// Under HKEY_LOCAL_MACHINE, in the registry view of the uninstall entry. Outside
// Software\VelmorixSetup, which a run's end deletes whole.
extern const char kInstallationRecordKey[];

enum class RecordedFileKind : std::uint8_t { Program = 0, Work = 1 };

struct RecordedFile {
  char path[kPathCapacity];
  std::uint64_t size;
  std::uint64_t writeTime;  // FILETIME as one number
  RecordedFileKind kind;
};

// One value under HKEY_CLASSES_ROOT the installation wrote, or one key it created (an
// empty value name with `keyOnly`). What stood there before is kept beside what was
// written, so that removal only touches what is still the installation's and puts
// back what it replaced.
constexpr std::size_t kRecordedDataCapacity = 2 * kPathCapacity;
struct RecordedValue {
  char key[kPathCapacity];
  char name[64];
  bool keyOnly;        // the key itself, created by the installation
  bool existedBefore;  // a value stood there before (keyOnly: never)
  DWORD priorType;
  DWORD priorSize;
  BYTE prior[kRecordedDataCapacity];
  char written[kRecordedDataCapacity];  // REG_SZ text the installation wrote
};

constexpr int kMaxRecordedFiles = 4 * kMaxCreatedFiles;
constexpr int kMaxRecordedFolders = 2 * kMaxCreatedFolders;
constexpr int kMaxRecordedValues = 32;

struct InstallationRecord {
  char installDir[kPathCapacity];
  char workDir[kPathCapacity];
  char uninstallEntry[kPathCapacity];  // under HKEY_LOCAL_MACHINE; empty: none recorded
  char shortcuts[2][kPathCapacity];    // empty: none
  char shortcutTarget[kPathCapacity];  // the program the shortcuts point at
  int fileCount;
  RecordedFile files[kMaxRecordedFiles];
  int folderCount;
  char folders[kMaxRecordedFolders][kPathCapacity];
  int valueCount;
  RecordedValue values[kMaxRecordedValues];
};

// Collects the folders made for an installation before its run (the install and work
// folders with their missing parents): the settings page and the unattended run hand
// it to the folder creation beside their log.
ProgressReport& PreRunFolders();

// The folders collected so far, in the order they were made (parents first).
int PreRunFolderCount();
const char* PreRunFolder(int index);

// Before the integration steps: notes which of the class keys and values the
// installation is about to write already stand, and what they hold.
void NoteRegistryBeforeIntegration(const InstallRun& run);

// After a successful run: adds what the run wrote to the record (created if missing).
// False when the record cannot be written; the run then counts as failed.
bool SaveInstallationRecord(const InstallRun& run);

// Reads the record into `record` (large: on the heap). False when there is none or
// it cannot be read.
bool LoadInstallationRecord(bool is64BitWindows, InstallationRecord& record);

// Deletes the record (and whatever its removal journal left inside it).
bool DeleteInstallationRecord(bool is64BitWindows);

// A reinstallation rewrites the record it finds. Before that, a copy of the record as
// it stands is kept beside it (an older copy is replaced); an undone run puts the copy
// back in the record's place, a run that stands deletes it. ERROR_SUCCESS or the
// registry's code.
LONG KeepEarlierInstallationRecord(bool is64BitWindows);
LONG PutBackEarlierInstallationRecord(bool is64BitWindows);
LONG ForgetEarlierInstallationRecord(bool is64BitWindows);

// The record's key opened for writing (created when missing), in the right view.
LONG OpenInstallationRecord(bool is64BitWindows, bool create, UniqueKey& key);
