#include "integration/file_association.h"

#include <windows.h>

#include <iterator>

#include "shared/command_text.h"
#include "shared/platform.h"
#include "shared/texts.h"

namespace {

constexpr std::size_t kMostValuesOfAKey = 3;

struct ClassKey {
  const char* path;
  const RegistryText* values;
  std::size_t count;
  unsigned ownLevels;  // trailing parts that belong to the association alone
};

// The keys and values the association consists of for one install folder. Texts
// that do not fit whole stay null and fail their value instead of being cut.
class AssociationTable {
 public:
  explicit AssociationTable(const char* installDir) {
    char programExePath[kPathCapacity];
    const bool exePathWhole =
        JoinPathWhole(programExePath, sizeof(programExePath), installDir, texts::kProgramExeTail);
    const bool commandWhole =
        exePathWhole && BuildOpenCommand(openCommand_, sizeof(openCommand_), programExePath);
    const bool iconWhole =
        exePathWhole && BuildIconLocation(iconLocation_, sizeof(iconLocation_), programExePath);
    openValue_[0] = {"", commandWhole ? openCommand_ : nullptr};
    classIcon_[0] = {"", iconWhole ? iconLocation_ : nullptr};
  }
  AssociationTable(const AssociationTable&) = delete;
  AssociationTable& operator=(const AssociationTable&) = delete;

  const ClassKey* begin() const { return keys_; }
  const ClassKey* end() const { return keys_ + kAssociationKeyCount; }
  const ClassKey& operator[](std::size_t i) const { return keys_[i]; }

 private:
  char openCommand_[kPathCapacity] = {};
  char iconLocation_[kPathCapacity] = {};
  const RegistryText packageValues_[3] = {
      {"", "VELMORIX.qzp"},
      {"Content Type", texts::kPackageContentType},
      {"PerceivedType", "package"},
  };
  RegistryText openValue_[1] = {};
  RegistryText classIcon_[1] = {};
  const ClassKey keys_[kAssociationKeyCount] = {
      {".qzp", packageValues_, std::size(packageValues_), 1},
      {".qzp\\OpenWithList\\Velmorix.exe", nullptr, 0, 2},  // the key alone is the entry
      {"Applications\\Velmorix.exe\\shell\\open\\command", openValue_, 1, 4},
      {"qzl\\shell\\open\\command", openValue_, 1, 4},
      {"qzl\\DefaultIcon", classIcon_, 1, 2},
  };
};

REGSAM ViewOf(bool is64BitWindows) { return is64BitWindows ? KEY_WOW64_64KEY : 0; }

RemovalResult Failure(LONG code) { return {Removal::Failed, static_cast<unsigned long>(code)}; }

// One key: each value back as it was, then the levels the write created, if empty.
RemovalResult RemoveClassKey(bool is64BitWindows, const ClassKey& written, const ReplacedKey* before) {
  const REGSAM view = ViewOf(is64BitWindows);
  UniqueKey key;
  const LONG opened = RegOpenKeyExA(HKEY_CLASSES_ROOT, written.path, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | view,
                                    key.Receive());
  if (opened == ERROR_FILE_NOT_FOUND) return {Removal::Absent, 0};
  if (opened != ERROR_SUCCESS) return Failure(opened);
  // Without a record, the parts only the association uses count as created.
  const unsigned levels = before ? before->createdLevels : written.ownLevels;
  // A key without values is its own entry: taking it back is deleting what was created.
  RemovalResult result = {written.count == 0 && levels > 0 ? Removal::Removed : Removal::Absent, 0};
  for (std::size_t i = 0; i < written.count; ++i) {
    const RegistryText& value = written.values[i];
    if (value.text == nullptr) continue;  // never written
    const LONG held = CheckTextValue(key.Get(), value.name, value.text);
    if (held == ERROR_FILE_NOT_FOUND) continue;
    if (held == ERROR_INVALID_DATA) {
      result = CombineRemovals(result, {Removal::NotOurs, 0});
      continue;
    }
    if (held != ERROR_SUCCESS) {
      result = CombineRemovals(result, Failure(held));
      continue;
    }
    ReplacedValue nothing = {};
    const ReplacedValue* was = &nothing;
    if (before && i < before->valueCount) was = &before->values[i];
    CopyText(nothing.name, sizeof(nothing.name), value.name);
    const LONG putBack = PutBackValue(key.Get(), *was);
    result = CombineRemovals(result, putBack == ERROR_SUCCESS ? RemovalResult{Removal::Removed, 0} : Failure(putBack));
  }
  key.Reset();
  const LONG pruned = DeleteEmptyLevels(HKEY_CLASSES_ROOT, written.path, view, levels);
  if (pruned != ERROR_SUCCESS) result = CombineRemovals(result, Failure(pruned));
  return result;
}

}  // namespace

bool RegisterFileAssociation(bool is64BitWindows, const char* installDir, ProgressReport& progress) {
  const AssociationTable keys(installDir);
  const REGSAM access = RegistryWriteAccess(is64BitWindows);
  bool succeeded = true;
  // Every key is attempted; the last failure's message is the one that stays.
  for (const ClassKey& key : keys) {
    LONG error = ERROR_SUCCESS;
    const KeyWriteResult result =
        WriteKeyWithValues(HKEY_CLASSES_ROOT, key.path, access, key.values, key.count, &error);
    if (result == KeyWriteResult::Ok) continue;
    char keyName[kPathCapacity];
    CopyPath(keyName, "HKCR\\");
    AppendPath(keyName, key.path);
    progress.StepFailed(result == KeyWriteResult::KeyFailed ? FailureCause::AssociationKeyFailed
                                                            : FailureCause::AssociationValuesFailed,
                        keyName, static_cast<unsigned long>(error));
    succeeded = false;
  }
  if (succeeded) progress.FileTypeAssociated(".qzp");
  return succeeded;
}

LONG RecordAssociationReplaced(bool is64BitWindows, ReplacedKey (&replaced)[kAssociationKeyCount]) {
  const AssociationTable keys("");
  for (std::size_t i = 0; i < kAssociationKeyCount; ++i) {
    const char* names[kMostValuesOfAKey] = {};
    for (std::size_t v = 0; v < keys[i].count; ++v) names[v] = keys[i].values[v].name;
    const LONG read = RecordReplacedKey(HKEY_CLASSES_ROOT, keys[i].path, ViewOf(is64BitWindows), names,
                                        keys[i].count, replaced[i]);
    if (read != ERROR_SUCCESS) return read;
  }
  return ERROR_SUCCESS;
}

RemovalResult RemoveFileAssociation(bool is64BitWindows, const char* installDir, const ReplacedKey* replaced) {
  const AssociationTable keys(installDir);
  RemovalResult result = {Removal::Absent, 0};
  // Last key first: a key's parts shared with an earlier key go with the earlier one.
  for (std::size_t i = kAssociationKeyCount; i-- > 0;) {
    result = CombineRemovals(result, RemoveClassKey(is64BitWindows, keys[i], replaced ? &replaced[i] : nullptr));
  }
  return result;
}
