// Why a step of a run failed: one value per distinct cause. The engine and the
// integration units name failures by cause only; which sentence the user sees for a
// cause is decided in one table (shared/failure_texts.h), and the log names both.
#pragma once

enum class FailureCause : unsigned char {
  None,
  // The payload archives.
  PayloadMissing,       // a "Binary" resource is not in the module
  PayloadUnreadable,    // a resource cannot be loaded or locked
  PayloadDamaged,       // an archive is not sound, or its checksum does not hold
  PayloadTooLarge,      // more entries than a run can record
  DecoderNotStarted,    // a compressed archive's decoding threads could not start
  FrameDamaged,         // a compressed frame failed while its file was written
  // The destinations, checked before anything is written and again while writing.
  FolderPathTooLong,    // a folder to be made, or a destination, does not fit
  FilePathTooLong,      // a destination file's path does not fit whole
  FolderThroughLink,    // a link or mount point on the way to a destination
  FolderUnusable,       // something on the way is no folder, or cannot be opened
  FolderNotMade,        // a folder could not be created
  FolderInTheWay,       // a folder stands where a file goes
  TooManyFiles,         // the run's list of created files is full
  FileNotCreated,       // a file could not be created (or the earlier one moved aside)
  FileWriteFailed,      // a file's bytes did not all reach the disk
  WorkpathNotWritten,   // the workpath file could not be written
  Cancelled,            // the user asked the run to stop
  // The run's own bookkeeping.
  KeepAsideFailed,      // an earlier file could not be planned to be kept aside
  KeepFolderFailed,     // the folder for kept files could not be named or made
  FolderNotRecorded,    // a folder made for the run could not join its record
  JournalNotStarted,    // the run's journal could not be written
  JournalWriteFailed,   // a record of the journal could not be written
  StepNotJournalled,    // an integration step's record could not be written
  RunMarkFailed,        // the journal did not take the mark of success
  // Ties into Windows.
  ComNotInitialised,
  DesktopFolderUnknown,
  DesktopShortcutFailed,
  StartMenuFolderUnknown,
  StartMenuShortcutFailed,
  UninstallKeyFailed,
  UninstallValuesFailed,
  UninstallEntryUnreadable,  // what the entry held before could not be read
  AssociationKeyFailed,
  AssociationValuesFailed,
  AssociationUnreadable,     // what the class keys held before could not be read
  RecordNotSaved,            // the installation's record could not be written
  // Ending a run: commit, undo and the next start's recovery.
  KeptFileNotDeleted,   // an earlier file kept aside could not be deleted now
  EarlierRecordNotDeleted,  // the copy of the record a reinstallation found stays
  FileNotPutBack,       // a kept file could not be moved back to its name
  FileNotRemoved,       // a file the run created could not be deleted
  FolderNotRemoved,     // a folder the run created could not be removed
  StepNotTakenBack,     // an integration step could not be taken back
  JournalNotEnded,      // the journal could not be deleted
  JournalUnreadable,    // a journal left by a killed run cannot be read
  // Choices made before a run (the settings page's Next, the unattended run).
  FolderPathUnknown,
  FolderAccessDenied,
  FolderCreateFailed,
  ChosenFolderThroughLink,
  // The removal of an installation.
  RemovalFileNotMoved,
  RemovalOutOfMemory,
  ClassValuesNotRestored,
  NothingToRemove,      // no installation's record was found
  Count
};

// The cause's name for the log: ASCII words joined by hyphens ("file-write-failed").
const char* FailureCauseName(FailureCause cause);
