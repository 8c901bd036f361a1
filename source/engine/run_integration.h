// The steps that tie an installation into Windows (its shortcuts, the uninstall entry,
// the file type and the installation's record) in the run's journal: before each is
// taken, what it is about to replace goes into the journal, flushed, so that a run
// that fails, is cancelled or is killed is taken back from there, last step first,
// with the integration units' remove functions: what the run wrote goes, what it
// replaced comes back, and what is no longer the run's stays.
#pragma once
#include "integration/shortcuts.h"
#include "engine/install_run.h"

// The shortcut step's watch: journals each shortcut before anything of it is made,
// with the earlier file at its name (when one stands there and is small enough to
// keep whole) and whether its maker's folder is made with it.
class JournalledShortcuts : public ShortcutWatch {
 public:
  explicit JournalledShortcuts(const InstallRun& run) : run_(run) {}
  bool WillMake(int index, const char* linkPath, bool makesFolder) override;

 private:
  const InstallRun& run_;
};

// Journal what the uninstall entry and the association are about to replace. False,
// with the failure reported, when that cannot be read or journalled: the step must
// not be taken then.
bool JournalUninstallEntryStep(const InstallRun& run);
bool JournalAssociationStep(const InstallRun& run);

// Journals that the installation's record is about to be made, when none stands yet
// (a record that stood before is not the run's to delete). False as above.
bool JournalInstallationRecordStep(const InstallRun& run);

// Takes back every integration step the open journal holds, last first, each reported
// to the run's receiver when something of it went. False when something that is still
// the run's could not be taken back (the journal must then stay for the next start).
bool TakeBackIntegration(const InstallRun& run);
