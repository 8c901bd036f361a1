// The .qzp file type and the open commands of the installed program.
#pragma once
#include <windows.h>

#include <cstddef>

#include "integration/registry_writer.h"
#include "integration/removal.h"
#include "shared/path_buffer.h"
#include "shared/progress_report.h"

// The class keys under HKEY_CLASSES_ROOT that the association writes, in order.
constexpr std::size_t kAssociationKeyCount = 5;

// Writes the five class keys under HKEY_CLASSES_ROOT for the program in installDir, in
// the 64-bit view when is64BitWindows. False after any failure, reported to `progress`
// with its cause; every key is attempted.
bool RegisterFileAssociation(bool is64BitWindows, const char* installDir, ProgressReport& progress);

// Records, before the association is written, each of its keys and values as they
// stand (replaced[i] for the i-th key). ERROR_SUCCESS, or the first failed read.
LONG RecordAssociationReplaced(bool is64BitWindows, ReplacedKey (&replaced)[kAssociationKeyCount]);

// Takes back the association written for installDir, last key first: each value that
// still holds what was written gets back what it replaced (replaced, as recorded
// before the write) or goes (replaced null: nothing is known of before), and keys the
// write created go once empty. A value that now holds something else is NotOurs and
// stays.
RemovalResult RemoveFileAssociation(bool is64BitWindows, const char* installDir,
                                    const ReplacedKey* replaced /* kAssociationKeyCount or null */);
