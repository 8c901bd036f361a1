#include "shared/failure_texts.h"

#include <iterator>

#include "shared/texts.h"

namespace {

// In the order of FailureCause.
const char* const kTexts[] = {
    "",  // None
    texts::kResourceMissing,  // PayloadMissing
    texts::kResourceLoadFailed,  // PayloadUnreadable
    texts::kResourceLoadFailed,  // PayloadDamaged
    texts::kResourceLoadFailed,  // PayloadTooLarge
    texts::kResourceLoadFailed,  // DecoderNotStarted
    texts::kResourceLoadFailed,  // FrameDamaged
    texts::kInstallFoldersFailed,  // FolderPathTooLong
    texts::kInstallFilesFailed,  // FilePathTooLong
    texts::kInstallFilesFailed,  // FolderThroughLink
    texts::kInstallFoldersFailed,  // FolderUnusable
    texts::kInstallFoldersFailed,  // FolderNotMade
    texts::kInstallFilesFailed,  // FolderInTheWay
    texts::kInstallFilesFailed,  // TooManyFiles
    texts::kInstallFilesFailed,  // FileNotCreated
    texts::kInstallFilesWriteFailed,  // FileWriteFailed
    texts::kInstallFilesFailed,  // WorkpathNotWritten
    texts::kCancelledByUser,  // Cancelled
    texts::kInstallFilesFailed,  // KeepAsideFailed
    texts::kInstallFilesFailed,  // KeepFolderFailed
    texts::kInstallFoldersFailed,  // FolderNotRecorded
    texts::kInstallFilesFailed,  // JournalNotStarted
    texts::kInstallFilesFailed,  // JournalWriteFailed
    texts::kRegistryKeyFailed,  // StepNotJournalled
    texts::kInstallFilesFailed,  // RunMarkFailed
    texts::kComInitFailed,  // ComNotInitialised
    texts::kDesktopPathFailed,  // DesktopFolderUnknown
    texts::kDesktopShortcutFailed,  // DesktopShortcutFailed
    texts::kStartMenuPathFailed,  // StartMenuFolderUnknown
    texts::kStartMenuShortcutFailed,  // StartMenuShortcutFailed
    texts::kRegistryKeyFailed,  // UninstallKeyFailed
    texts::kUninstallValuesFailed,  // UninstallValuesFailed
    texts::kRegistryKeyFailed,  // UninstallEntryUnreadable
    texts::kRegistryKeyFailed,  // AssociationKeyFailed
    texts::kAssociationValuesFailed,  // AssociationValuesFailed
    texts::kRegistryKeyFailed,  // AssociationUnreadable
    texts::kInstallFilesFailed,  // RecordNotSaved
    texts::kInstallFilesFailed,  // KeptFileNotDeleted
    texts::kRegistryKeyFailed,   // EarlierRecordNotDeleted
    texts::kInstallFilesFailed,  // FileNotPutBack
    texts::kInstallFilesFailed,  // FileNotRemoved
    texts::kInstallFilesFailed,  // FolderNotRemoved
    texts::kInstallFilesFailed,  // StepNotTakenBack
    texts::kInstallFilesFailed,  // JournalNotEnded
    texts::kInstallFilesFailed,  // JournalUnreadable
    texts::kFolderPathUnknown,  // FolderPathUnknown
    texts::kFolderAccessDenied,  // FolderAccessDenied
    texts::kFolderCreateFailed,  // FolderCreateFailed
    texts::kFolderThroughLink,  // ChosenFolderThroughLink
    texts::kInstallFilesFailed,  // RemovalFileNotMoved
    texts::kInstallFilesFailed,  // RemovalOutOfMemory
    texts::kInstallFilesFailed,  // ClassValuesNotRestored
    texts::kUninstallNothingFound,  // NothingToRemove
};
static_assert(std::size(kTexts) == static_cast<unsigned>(FailureCause::Count), "a text for every cause");

}  // namespace

const char* FailureText(FailureCause cause) {
  const auto index = static_cast<unsigned>(cause);
  return index < std::size(kTexts) ? kTexts[index] : texts::kInstallFilesFailed;
}
