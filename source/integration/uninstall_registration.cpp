#include "integration/uninstall_registration.h"

#include <windows.h>

#include <cstring>
#include <iterator>

#include "integration/registry_writer.h"
#include "shared/command_text.h"
#include "shared/install_date.h"
#include "shared/platform.h"
#include "shared/texts.h"

namespace {

// Every value the entry may hold, in the order they are written.
const char* const kEntryValueNames[] = {
    "Publisher",   "InstallDate",     "InstallLocation", "Version",  "DisplayName",   "UninstallString",
    "DisplayIcon", "DisplayVersion",  "NoRepair",        "NoModify", "TableShortcut", "PanelShortcut",
    "QuietUninstallString", "EstimatedSize",
};
static_assert(std::size(kEntryValueNames) <= kReplacedValuesPerKey, "the record holds every value");

REGSAM ViewOf(bool is64BitWindows) { return is64BitWindows ? KEY_WOW64_64KEY : 0; }

RemovalResult Failure(LONG code) { return {Removal::Failed, static_cast<unsigned long>(code)}; }

const ReplacedValue* RecordedValue(const ReplacedKey& key, const char* name) {
  for (unsigned i = 0; i < key.valueCount && i < kReplacedValuesPerKey; ++i)
    if (std::strcmp(key.values[i].name, name) == 0) return &key.values[i];
  return nullptr;
}

}  // namespace

bool RegisterUninstallEntry(const UninstallEntry& entry, ProgressReport& progress) {
  // Each text is built whole or not at all: a cut path would name another file.
  char programExePath[kPathCapacity];
  const bool exePathWhole =
      JoinPathWhole(programExePath, sizeof(programExePath), entry.installDir, texts::kProgramExeTail);
  // A command line: the path is quoted, since it usually holds a space (Program Files).
  char uninstallCommand[kPathCapacity];
  const bool commandWhole = BuildProgramCommand(uninstallCommand, sizeof(uninstallCommand),
                                                entry.installDir, texts::kUninstallExeTail);
  // The same command unattended, as deployment tools call it.
  char quietCommand[kPathCapacity + 4];
  const bool quietWhole = commandWhole &&
                          CopyText(quietCommand, sizeof(quietCommand), uninstallCommand) == PathResult::Ok &&
                          AppendText(quietCommand, sizeof(quietCommand), " /S") == PathResult::Ok;
  SYSTEMTIME now{};
  GetSystemTime(&now);  // UTC
  char installDate[kInstallDateSize];
  const bool dateWritten = FormatInstallDate(now.wYear, now.wMonth, now.wDay, installDate);

  char keyName[kPathCapacity];
  CopyPath(keyName, "HKLM\\");
  AppendPath(keyName, texts::kUninstallKeyPath);
  UniqueKey key;
  const LONG created = CreateKeyForWriting(HKEY_LOCAL_MACHINE, texts::kUninstallKeyPath,
                                           RegistryWriteAccess(entry.is64BitWindows), key);
  if (created != ERROR_SUCCESS) {
    progress.StepFailed(FailureCause::UninstallKeyFailed, keyName, static_cast<unsigned long>(created));
    return false;
  }

  const RegistryText values[] = {
      {"Publisher", texts::kPublisher},
      {"InstallDate", dateWritten ? installDate : nullptr},
      {texts::kInstallLocationValue, entry.installDir},
      {"Version", texts::kVersion},
      {"DisplayName", texts::kProductTitle},
      {"UninstallString", commandWhole ? uninstallCommand : nullptr},
      {"DisplayIcon", exePathWhole ? programExePath : nullptr},
      {"DisplayVersion", texts::kVersion},
      {"QuietUninstallString", quietWhole ? quietCommand : nullptr},
  };
  LONG lastError = ERROR_SUCCESS;
  bool allWritten = WriteTextValues(key.Get(), values, std::size(values), &lastError);
  for (const char* flag : {"NoRepair", "NoModify"}) {
    const LONG result = WriteDwordValue(key.Get(), flag, 1);
    if (result == ERROR_SUCCESS) continue;
    allWritten = false;
    lastError = result;
  }
  const LONG sizeWritten = WriteDwordValue(key.Get(), "EstimatedSize", entry.estimatedSizeKiB);
  if (sizeWritten != ERROR_SUCCESS) {
    allWritten = false;
    lastError = sizeWritten;
  }
  if (!allWritten) {
    progress.StepFailed(FailureCause::UninstallValuesFailed, keyName, static_cast<unsigned long>(lastError));
    return false;
  }

  // The uninstaller removes the shortcuts named here; a chosen shortcut that failed
  // is recorded as an empty path. These two results do not count.
  if (entry.desktopShortcut != nullptr) WriteTextValue(key.Get(), "TableShortcut", entry.desktopShortcut);
  if (entry.startMenuShortcut != nullptr) WriteTextValue(key.Get(), "PanelShortcut", entry.startMenuShortcut);
  progress.UninstallEntryWritten(keyName);
  return true;
}

LONG RecordUninstallEntryReplaced(bool is64BitWindows, ReplacedKey& replaced) {
  return RecordReplacedKey(HKEY_LOCAL_MACHINE, texts::kUninstallKeyPath, ViewOf(is64BitWindows), kEntryValueNames,
                           std::size(kEntryValueNames), replaced);
}

RemovalResult RemoveUninstallEntry(bool is64BitWindows, const char* installDir, const ReplacedKey* replaced) {
  const REGSAM view = ViewOf(is64BitWindows);
  UniqueKey key;
  const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, texts::kUninstallKeyPath, 0,
                                    KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_ENUMERATE_SUB_KEYS | DELETE | view,
                                    key.Receive());
  if (opened == ERROR_FILE_NOT_FOUND) return {Removal::Absent, 0};
  if (opened != ERROR_SUCCESS) return Failure(opened);
  char uninstallCommand[kPathCapacity];
  if (!BuildProgramCommand(uninstallCommand, sizeof(uninstallCommand), installDir, texts::kUninstallExeTail)) {
    return {Removal::NotOurs, 0};  // no entry this installation wrote can name it
  }
  for (const auto& [name, text] : {RegistryText{texts::kInstallLocationValue, installDir},
                                   RegistryText{"UninstallString", uninstallCommand}}) {
    LONG held = CheckTextValue(key.Get(), name, text);
    // A write stopped before it reached the value left it as it was: with a record of
    // before, that still counts as this installation's entry.
    const ReplacedValue* before = replaced ? RecordedValue(*replaced, name) : nullptr;
    if ((held == ERROR_FILE_NOT_FOUND || held == ERROR_INVALID_DATA) && before != nullptr)
      held = CheckValueAsRecorded(key.Get(), *before);
    if (held == ERROR_FILE_NOT_FOUND || held == ERROR_INVALID_DATA) return {Removal::NotOurs, 0};
    if (held != ERROR_SUCCESS) return Failure(held);
  }
  if (replaced == nullptr || replaced->createdLevels > 0) {
    const LONG cleared = RegDeleteTreeA(key.Get(), nullptr);  // values and any subkeys
    if (cleared != ERROR_SUCCESS) return Failure(cleared);
    key.Reset();
    const LONG deleted = DeleteEmptyLevels(HKEY_LOCAL_MACHINE, texts::kUninstallKeyPath, view,
                                           replaced ? replaced->createdLevels : 1);
    return deleted == ERROR_SUCCESS ? RemovalResult{Removal::Removed, 0} : Failure(deleted);
  }
  RemovalResult result = {Removal::Removed, 0};
  for (unsigned i = 0; i < replaced->valueCount && i < kReplacedValuesPerKey; ++i) {
    const LONG putBack = PutBackValue(key.Get(), replaced->values[i]);
    if (putBack != ERROR_SUCCESS) result = CombineRemovals(result, Failure(putBack));
  }
  return result;
}
