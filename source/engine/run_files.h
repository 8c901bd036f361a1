// How a run puts its files on disk without losing what stood there and without going
// through a link. An earlier file at a destination is moved aside (renamed by its
// handle into the run's keep folder, engine/keep_folder.h: no copy) before the new
// file is created, exclusively and relative to its held folder, in its place; the
// clean-up puts it back or deletes it (see engine/run_outcome.h). Each step is in the
// run's journal before it happens: a kept file with its random name before it moves,
// a created file before it exists (and with its identity once it does).
#pragma once
#include <windows.h>

#include "engine/archive_reader.h"
#include "engine/folder_chain.h"
#include "engine/run_names.h"
#include "engine/install_run.h"

// Where the entries of a run land: up to two archives, each with its destination
// folder, and the workpath file.
struct RunDestinations {
  const ArchiveView* archives[2] = {};
  const char* folders[2] = {};
  int count = 0;
  const char* workpathFile = nullptr;
};

enum class EntryPath { Ok, FolderTooLong, FileTooLong };

// The entry's folder (`destination` without trailing separators, followed by the
// relative folder without its last backslash) and the file's path, each whole in
// kPathCapacity bytes, or which of them does not fit.
EntryPath ComposeEntryPaths(const char* destination, const PayloadEntry& entry, char* folder, char* file);

// The slot in run.record.keepFolders serving destination folder `root` (normalised),
// taken now if the run has none for it yet; -1 when every slot serves another folder.
int KeepFolderSlot(const InstallRun& run, const char* root);

// Makes the keep folder of `slot` unless the run holds it already: named and
// journalled first, then created on volume `volumeSerial` and journalled again.
bool EnsureKeepFolder(const InstallRun& run, int slot, DWORD volumeSerial);

// Where kept file `index` lies while the run runs: its keep folder and its name.
bool KeptFilePath(const InstallRun& run, int index, char* out);

// What stands at `path`: nothing, a file (its name as spelt on disk in
// `actualName`, kPathCapacity bytes), or a folder (or a link to one), over which no
// file is written.
enum class ExistingFile { Absent, Found, Refused };
ExistingFile FindExisting(const char* path, char* actualName);

// Adds a kept-file record for the earlier file at `folderPath`\`actualName`, to be
// moved into keep folder `keepFolder` under a random name, and journals it while the
// journal is open; its index, or -1 when the list is full or the journal refused it.
// A path that is already recorded keeps its record.
int RecordKeptFile(const InstallRun& run, const char* folderPath, const char* actualName, int keepFolder);

struct NewFileTarget {
  const char* root;                       // the destination folder the file belongs to
  FolderChain* chain;                     // holds the folder the file goes into
  const char* name;
  const char* path;                       // the chain's end, a backslash, the name
  int plannedKeep;                        // the kept file planned for this path, or -1
};

enum class NewFile {
  Created,   // nothing stood at the name
  Replaced,  // an earlier file stood there and was moved aside (kept)
  Reused,    // the run had created this very file at this path already; it was emptied
  Refused,
  NotJournalled,  // the journal did not take the file's record: nothing was created
};

// Makes `target.path` a new, empty file of this run and opens it for writing. An
// earlier file there is moved aside first; a file this run created at this same path
// (and nowhere else: one name only) is emptied and reused; any other name of a file
// the run created is refused. The new file is created exclusively, which fails on
// anything standing at the name, a link included.
NewFile CreateRunFile(const InstallRun& run, const NewFileTarget& target, UniqueHandle* file, FileIdentity* identity);

// Journals each folder a run's walk creates before it is made, then records it with its
// identity (in createdFolders and the journal), so an undone run removes it again.
class RunFolderRecorder : public FolderRecorder {
 public:
  explicit RunFolderRecorder(const InstallRun& run) : run_(run) {}
  bool WillCreate(const char* path) override;
  bool Created(const char* path, HANDLE folder) override;

 private:
  const InstallRun& run_;
};

// Appends a created file to createdFiles (and the journal); false when the list is
// full or the journal refused it.
bool RecordCreatedFile(const InstallRun& run, const char* path, const FileIdentity& identity);
