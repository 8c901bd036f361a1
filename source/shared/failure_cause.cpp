#include "shared/failure_cause.h"

#include <iterator>

namespace {

const char* const kNames[] = {
    "none",
    "payload-missing",
    "payload-unreadable",
    "payload-damaged",
    "payload-too-large",
    "decoder-not-started",
    "frame-damaged",
    "folder-path-too-long",
    "file-path-too-long",
    "folder-through-link",
    "folder-unusable",
    "folder-not-made",
    "folder-in-the-way",
    "too-many-files",
    "file-not-created",
    "file-write-failed",
    "workpath-not-written",
    "cancelled",
    "keep-aside-failed",
    "keep-folder-failed",
    "folder-not-recorded",
    "journal-not-started",
    "journal-write-failed",
    "step-not-journalled",
    "run-mark-failed",
    "com-not-initialised",
    "desktop-folder-unknown",
    "desktop-shortcut-failed",
    "start-menu-folder-unknown",
    "start-menu-shortcut-failed",
    "uninstall-key-failed",
    "uninstall-values-failed",
    "uninstall-entry-unreadable",
    "association-key-failed",
    "association-values-failed",
    "association-unreadable",
    "record-not-saved",
    "kept-file-not-deleted",
    "earlier-record-not-deleted",
    "file-not-put-back",
    "file-not-removed",
    "folder-not-removed",
    "step-not-taken-back",
    "journal-not-ended",
    "journal-unreadable",
    "folder-path-unknown",
    "folder-access-denied",
    "folder-create-failed",
    "chosen-folder-through-link",
    "removal-file-not-moved",
    "removal-out-of-memory",
    "class-values-not-restored",
    "nothing-to-remove",
};
static_assert(std::size(kNames) == static_cast<unsigned>(FailureCause::Count), "a name for every cause");

}  // namespace

const char* FailureCauseName(FailureCause cause) {
  const auto index = static_cast<unsigned>(cause);
  return index < std::size(kNames) ? kNames[index] : "unknown";
}
