// How a run puts its files on disk without losing what stood there and without going
// through a link. An earlier file at a destination is moved aside (renamed into the
// run's own keep folder in the same destination folder: no copy) before the new file
// is created, exclusively, in its place; the clean-up puts it back or deletes it (see
// engine/run_outcome.h). Every created file is recorded with its identity, every kept
// file with where it stood, and both in the run's journal while one is open.
#pragma once
#include <windows.h>

#include "engine/archive_reader.h"
#include "engine/folder_chain.h"
#include "shared/installer_state.h"

// Where the entries of a run land: up to two archives, each with its destination
// folder, and the workpath file.
struct RunDestinations {
  const ArchiveView* archives[2] = {};
  const char* folders[2] = {};
  int count = 0;
  const char* workpathFile = nullptr;
};

// Names as the file system compares them: upper-cased in the code page.
bool SameName(const char* a, const char* b);
// The same for both of two names that SameName finds equal (a hash, for quick lookups).
std::uint32_t NameKey(const char* text);

enum class EntryPath { Ok, FolderTooLong, FileTooLong };

// The entry's folder (`destination` without trailing separators, followed by the
// relative folder without its last backslash) and the file's path, each whole in
// kPathCapacity bytes, or which of them does not fit.
EntryPath ComposeEntryPaths(const char* destination, const PayloadEntry& entry, char* folder, char* file);

// Whether `path` is a file the run writes or a folder on the way to one.
bool UsedByRun(const RunDestinations& destinations, const char* path);

// The slot in state.keepFolders serving destination folder `root` (normalised),
// taken now if the run has none for it yet; -1 when every slot serves another folder.
int KeepFolderSlot(InstallerState& state, const char* root);

// Creates the keep folder of `slot` unless it exists: inside its destination folder,
// under a name no destination of the run uses and nothing stood at before, hidden,
// held open and journalled.
bool CreateKeepFolder(InstallerState& state, int slot, const RunDestinations& destinations);

// Where kept file `index` lies while the run runs: its keep folder and its number.
bool KeptFilePath(const InstallerState& state, int index, char* out);

// What stands at `path`: nothing, a file (its name as spelt on disk in
// `actualName`, kPathCapacity bytes), or a folder (or a link to one), over which no
// file is written.
enum class ExistingFile { Absent, Found, Refused };
ExistingFile FindExisting(const char* path, char* actualName);

// Adds a kept-file record for the earlier file at `folderPath`\`actualName`, to be
// moved into keep folder `keepFolder`, and journals it; its index, or -1 when the list
// is full. A path that is already recorded keeps its record.
int RecordKeptFile(InstallerState& state, const char* folderPath, const char* actualName, int keepFolder);

struct NewFileTarget {
  const char* root;                       // the destination folder the file belongs to
  const RunDestinations* destinations;    // for naming a keep folder
  FolderChain* chain;                     // holds the folder the file goes into
  const char* name;
  const char* path;                       // the chain's end, a backslash, the name
  int plannedKeep;                        // the kept file planned for this path, or -1
};

enum class NewFile {
  Created,   // nothing stood at the name
  Replaced,  // an earlier file stood there and was moved aside (kept)
  Reused,    // the run had created this file already; it was emptied
  Refused,
};

// Makes `target.path` a new, empty file of this run and opens it for writing. An
// earlier file there is moved aside first, by a rename within the volume (a link
// standing at the name moves as the link); a file this run created there already is
// emptied and reused. Nothing is written through a link at the name: the new file is
// created exclusively, which fails on anything standing there.
NewFile CreateRunFile(InstallerState& state, const NewFileTarget& target, UniqueHandle* file, FileIdentity* identity);

// Appends a created file to createdFiles (and the journal); false when the list is full.
bool RecordCreatedFile(InstallerState& state, const char* path, const FileIdentity& identity);
