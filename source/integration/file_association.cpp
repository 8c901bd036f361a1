#include "integration/file_association.h"

#include <windows.h>

#include <iterator>

#include "integration/registry_writer.h"
#include "shared/command_text.h"
#include "shared/platform.h"
#include "shared/texts.h"

namespace {

struct ClassKey {
  const char* path;
  const RegistryText* values;
  std::size_t count;
};

}  // namespace

bool RegisterFileAssociation(InstallerState& state) {
  // Texts that do not fit whole stay null and fail their value instead of being cut.
  char programExePath[kPathCapacity];
  const bool exePathWhole =
      JoinPathWhole(programExePath, sizeof(programExePath), state.installDir, texts::kProgramExeTail);
  char openCommand[kPathCapacity];
  const bool commandWhole =
      exePathWhole && BuildOpenCommand(openCommand, sizeof(openCommand), programExePath);
  char iconLocation[kPathCapacity];
  const bool iconWhole =
      exePathWhole && BuildIconLocation(iconLocation, sizeof(iconLocation), programExePath);
  const char* command = commandWhole ? openCommand : nullptr;

  const RegistryText packageValues[] = {
      {"", "VELMORIX.qzp"},
      {"Content Type", texts::kPackageContentType},
      {"PerceivedType", "package"},
  };
  const RegistryText openValue[] = {{"", command}};
  const RegistryText classIcon[] = {{"", iconWhole ? iconLocation : nullptr}};
  const ClassKey keys[] = {
      {".qzp", packageValues, std::size(packageValues)},
      {".qzp\\OpenWithList\\Velmorix.exe", nullptr, 0},  // the key alone is the entry
      {"Applications\\Velmorix.exe\\shell\\open\\command", openValue, 1},
      {"qzl\\shell\\open\\command", openValue, 1},
      {"qzl\\DefaultIcon", classIcon, 1},
  };

  const REGSAM access = RegistryWriteAccess(state.is64BitWindows != 0);
  bool succeeded = true;
  // Every key is attempted; the last failure's message is the one that stays.
  for (const ClassKey& key : keys) {
    LONG error = ERROR_SUCCESS;
    const KeyWriteResult result = WriteKeyWithValues(HKEY_CLASSES_ROOT, key.path, access, key.values, key.count, &error);
    if (result == KeyWriteResult::Ok) continue;
    char keyName[kPathCapacity];
    CopyPath(keyName, "HKCR\\");
    AppendPath(keyName, key.path);
    ReportFailure(state, result == KeyWriteResult::KeyFailed ? texts::kRegistryKeyFailed : texts::kAssociationValuesFailed,
                  keyName, static_cast<unsigned long>(error));
    succeeded = false;
  }
  if (succeeded) ProgressOf(state).FileTypeAssociated(".qzp");
  return succeeded;
}
