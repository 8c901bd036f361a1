#include "engine/installation_record.h"

#include <cstring>

#include "shared/command_text.h"
#include "shared/little_endian.h"
#include "shared/platform.h"
#include "shared/texts.h"

const char kInstallationRecordKey[] = "Software\\VelmorixInstallation";

namespace {

constexpr char kFilesKey[] = "Files";
constexpr char kFoldersKey[] = "Folders";
constexpr char kValuesKey[] = "Registry";
constexpr char kShortcutTargetValue[] = "ShortcutTarget";
const char* const kShortcutValues[2] = {"DesktopShortcut", "StartMenuShortcut"};

// A file's value: size, write time (both little-endian), kind.
constexpr std::size_t kFileDataSize = 17;
// A class value's data: key only, existed before, prior type, prior size, then the
// key, the value's name and the written text (each terminated) and the prior bytes.
constexpr std::size_t kValueHead = 10;
constexpr std::size_t kValueDataCapacity = kValueHead + kPathCapacity + 64 + 2 * kRecordedDataCapacity;

// Folders created before the run, in the order made.
struct FolderList : ProgressReport {
  int count = 0;
  char paths[64][kPathCapacity] = {};
  void FolderCreated(const char* path) override {
    if (count < 64) CopyPath(paths[count++], path);
  }
};
FolderList g_preRunFolders;

RecordedValue g_noted[kMaxRecordedValues];
int g_notedCount = 0;

REGSAM ViewOf(bool is64BitWindows) { return is64BitWindows ? KEY_WOW64_64KEY : 0; }

LONG OpenSub(HKEY parent, const char* name, REGSAM access, bool create, UniqueKey& key) {
  if (create)
    return RegCreateKeyExA(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, key.Receive(), nullptr);
  return RegOpenKeyExA(parent, name, 0, access, key.Receive());
}

// A REG_SZ value read whole and terminated into `out` (`capacity` bytes); empty when
// missing.
bool ReadText(HKEY key, const char* name, char* out, DWORD capacity) {
  DWORD type = 0;
  DWORD size = capacity - 1;
  out[0] = '\0';
  const LONG result = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &size);
  if (result != ERROR_SUCCESS || type != REG_SZ) {
    out[0] = '\0';
    return result == ERROR_FILE_NOT_FOUND;
  }
  out[size < capacity ? size : capacity - 1] = '\0';
  return true;
}

LONG WriteText(HKEY key, const char* name, const char* text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(std::strlen(text) + 1));
}

// Whether `path` lies in `folder` (a path below it, separated by a backslash).
std::size_t DepthUnder(const char* path, const char* folder) {
  const std::size_t length = std::strlen(folder);
  if (length == 0 || _strnicmp(path, folder, length) != 0 || path[length] != '\\') return 0;
  return length;
}

// Notes one class value (or a key alone, when `name` is null) about to be written,
// with what stands there now.
void Note(HKEY root, REGSAM view, const char* key, const char* name, const char* written) {
  if (g_notedCount >= kMaxRecordedValues) return;
  RecordedValue& value = g_noted[g_notedCount++];
  value = RecordedValue{};
  CopyPath(value.key, key);
  value.keyOnly = name == nullptr;
  CopyText(value.name, sizeof(value.name), name ? name : "");
  CopyText(value.written, sizeof(value.written), written ? written : "");
  if (value.keyOnly) return;
  UniqueKey opened;
  if (RegOpenKeyExA(root, key, 0, KEY_QUERY_VALUE | view, opened.Receive()) != ERROR_SUCCESS) return;
  value.priorSize = sizeof(value.prior);
  value.existedBefore = RegQueryValueExA(opened.Get(), value.name, nullptr, &value.priorType, value.prior,
                                         &value.priorSize) == ERROR_SUCCESS;
  if (!value.existedBefore) value.priorSize = 0;
}

// Notes every key on the way to `key` that does not stand yet, the shallowest first.
void NoteMissingKeys(HKEY root, REGSAM view, const char* key) {
  char prefix[kPathCapacity];
  CopyPath(prefix, key);
  for (char* at = prefix;; ++at) {
    if (*at != '\\' && *at != '\0') continue;
    const char saved = *at;
    *at = '\0';
    UniqueKey opened;
    if (RegOpenKeyExA(root, prefix, 0, KEY_QUERY_VALUE | view, opened.Receive()) != ERROR_SUCCESS)
      Note(root, view, prefix, nullptr, nullptr);
    *at = saved;
    if (saved == '\0') return;
  }
}

bool SaveFiles(HKEY record, const InstallRun& run) {
  UniqueKey files;
  if (OpenSub(record, kFilesKey, KEY_SET_VALUE, true, files) != ERROR_SUCCESS) return false;
  for (int i = 0; i < run.record.createdFileCount && i < kMaxCreatedFiles; ++i) {
    const char* path = run.record.createdFiles[i];
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) continue;
    BYTE value[kFileDataSize];
    WriteLe((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow, 8, value);
    WriteLe(
        (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime, 8,
        value + 8);
    // A file in both folders (the work folder inside the install folder) belongs to
    // the deeper one.
    const bool work = DepthUnder(path, run.request.workDir) > DepthUnder(path, run.request.installDir);
    value[16] = static_cast<BYTE>(work ? RecordedFileKind::Work : RecordedFileKind::Program);
    if (RegSetValueExA(files.Get(), path, 0, REG_BINARY, value, sizeof(value)) != ERROR_SUCCESS) return false;
  }
  return true;
}

bool SaveFolders(HKEY record, const InstallRun& run) {
  UniqueKey folders;
  if (OpenSub(record, kFoldersKey, KEY_SET_VALUE, true, folders) != ERROR_SUCCESS) return false;
  const DWORD zero = 0;
  auto add = [&](const char* path) {
    return RegSetValueExA(folders.Get(), path, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof(zero)) ==
           ERROR_SUCCESS;
  };
  for (int i = 0; i < g_preRunFolders.count; ++i)
    if (!add(g_preRunFolders.paths[i])) return false;
  for (int i = 0; i < run.record.createdFolderCount && i < kMaxCreatedFolders; ++i)
    if (!add(run.record.createdFolders[i])) return false;
  // The maker's folder in the Start menu holds nothing but the shortcut: it goes
  // with it once empty.
  char makerFolder[kPathCapacity];
  CopyPath(makerFolder, run.record.startMenuShortcutPath);
  char* last = std::strrchr(makerFolder, '\\');
  if (last != nullptr && last > makerFolder) {
    *last = '\0';
    const char* name = std::strrchr(makerFolder, '\\');
    if (name != nullptr && _stricmp(name + 1, texts::kPublisher) == 0 && !add(makerFolder)) return false;
  }
  return true;
}

// Class values: an earlier installation's note of what stood before stays; what a
// reinstallation over it would call "before" is the installation's own.
bool SaveValues(HKEY record) {
  UniqueKey values;
  if (OpenSub(record, kValuesKey, KEY_SET_VALUE | KEY_QUERY_VALUE, true, values) != ERROR_SUCCESS) return false;
  for (int i = 0; i < g_notedCount; ++i) {
    const RecordedValue& value = g_noted[i];
    char name[kPathCapacity + 80];
    CopyText(name, sizeof(name), value.keyOnly ? "K|" : "V|");
    AppendText(name, sizeof(name), value.key);
    if (!value.keyOnly) {
      AppendText(name, sizeof(name), "|");
      AppendText(name, sizeof(name), value.name);
    }
    if (RegQueryValueExA(values.Get(), name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) continue;
    BYTE data[kValueDataCapacity];
    data[0] = value.keyOnly ? 1 : 0;
    data[1] = value.existedBefore ? 1 : 0;
    WriteLe(value.priorType, 4, data + 2);
    WriteLe(value.priorSize, 4, data + 6);
    std::size_t at = kValueHead;
    for (const char* text :
         {value.key, static_cast<const char*>(value.name), static_cast<const char*>(value.written)}) {
      const std::size_t length = std::strlen(text) + 1;
      std::memcpy(data + at, text, length);
      at += length;
    }
    std::memcpy(data + at, value.prior, value.priorSize);
    at += value.priorSize;
    if (RegSetValueExA(values.Get(), name, 0, REG_BINARY, data, static_cast<DWORD>(at)) != ERROR_SUCCESS) return false;
  }
  return true;
}

// Reads back one class value's record; false when it is not sound.
bool ParseValue(const BYTE* data, DWORD size, RecordedValue& value) {
  if (size < kValueHead) return false;
  value = RecordedValue{};
  value.keyOnly = data[0] != 0;
  value.existedBefore = data[1] != 0;
  value.priorType = ReadLe32(data + 2);
  value.priorSize = ReadLe32(data + 6);
  std::size_t at = kValueHead;
  char* texts[] = {value.key, value.name, value.written};
  const std::size_t capacities[] = {sizeof(value.key), sizeof(value.name), sizeof(value.written)};
  for (int i = 0; i < 3; ++i) {
    const void* end = at < size ? std::memchr(data + at, '\0', size - at) : nullptr;
    if (end == nullptr) return false;
    const std::size_t length = static_cast<std::size_t>(static_cast<const BYTE*>(end) - (data + at));
    if (length >= capacities[i]) return false;
    std::memcpy(texts[i], data + at, length + 1);
    at += length + 1;
  }
  if (value.priorSize > sizeof(value.prior) || size - at != value.priorSize) return false;
  std::memcpy(value.prior, data + at, value.priorSize);
  return true;
}

// Calls `each(name, data, size)` for every value of `key`.
template <typename Each>
bool ForEachValue(HKEY key, Each each) {
  for (DWORD index = 0;; ++index) {
    char name[kPathCapacity + 80];
    DWORD nameSize = sizeof(name);
    BYTE data[kValueDataCapacity];
    DWORD dataSize = sizeof(data);
    const LONG result = RegEnumValueA(key, index, name, &nameSize, nullptr, nullptr, data, &dataSize);
    if (result == ERROR_NO_MORE_ITEMS) return true;
    if (result != ERROR_SUCCESS || !each(name, data, dataSize)) return false;
  }
}

}  // namespace

ProgressReport& PreRunFolders() { return g_preRunFolders; }

int PreRunFolderCount() { return g_preRunFolders.count; }

const char* PreRunFolder(int index) {
  return index >= 0 && index < g_preRunFolders.count ? g_preRunFolders.paths[index] : nullptr;
}

void NoteRegistryBeforeIntegration(const InstallRun& run) {
  g_notedCount = 0;
  const REGSAM view = ViewOf(run.request.is64BitWindows != 0);
  char programExePath[kPathCapacity];
  char openCommand[kPathCapacity] = {};
  char iconLocation[kPathCapacity] = {};
  if (JoinPathWhole(programExePath, sizeof(programExePath), run.request.installDir, texts::kProgramExeTail)) {
    BuildOpenCommand(openCommand, sizeof(openCommand), programExePath);
    BuildIconLocation(iconLocation, sizeof(iconLocation), programExePath);
  }
  struct Planned {
    const char* key;
    const char* name;
    const char* written;
  };
  const Planned planned[] = {
      {".qzp", "", "VELMORIX.qzp"},
      {".qzp", "Content Type", texts::kPackageContentType},
      {".qzp", "PerceivedType", "package"},
      {".qzp\\OpenWithList\\Velmorix.exe", nullptr, nullptr},
      {"Applications\\Velmorix.exe\\shell\\open\\command", "", openCommand},
      {"qzl\\shell\\open\\command", "", openCommand},
      {"qzl\\DefaultIcon", "", iconLocation},
  };
  for (const Planned& item : planned) {
    NoteMissingKeys(HKEY_CLASSES_ROOT, view, item.key);
    if (item.name != nullptr) Note(HKEY_CLASSES_ROOT, view, item.key, item.name, item.written);
  }
}

LONG OpenInstallationRecord(bool is64BitWindows, bool create, UniqueKey& key) {
  return OpenSub(HKEY_LOCAL_MACHINE, kInstallationRecordKey, KEY_READ | KEY_WRITE | ViewOf(is64BitWindows), create,
                 key);
}

bool SaveInstallationRecord(const InstallRun& run) {
  UniqueKey record;
  if (OpenInstallationRecord(run.request.is64BitWindows != 0, true, record) != ERROR_SUCCESS) return false;
  bool saved = WriteText(record.Get(), "InstallDir", run.request.installDir) == ERROR_SUCCESS &&
               WriteText(record.Get(), "WorkDir", run.request.workDir) == ERROR_SUCCESS;
  if (run.request.TiesIntoWindows()) {
    char programExePath[kPathCapacity] = {};
    JoinPathWhole(programExePath, sizeof(programExePath), run.request.installDir, texts::kProgramExeTail);
    saved = saved && WriteText(record.Get(), "UninstallEntry", texts::kUninstallKeyPath) == ERROR_SUCCESS &&
            WriteText(record.Get(), kShortcutTargetValue, programExePath) == ERROR_SUCCESS;
    const char* shortcuts[2] = {run.record.desktopShortcutPath, run.record.startMenuShortcutPath};
    for (int i = 0; i < 2; ++i)
      if (shortcuts[i][0] != '\0') saved = saved && WriteText(record.Get(), kShortcutValues[i], shortcuts[i]) == 0;
    saved = saved && SaveValues(record.Get());
  }
  saved = saved && SaveFiles(record.Get(), run) && SaveFolders(record.Get(), run);
  RegFlushKey(record.Get());
  return saved;
}

bool LoadInstallationRecord(bool is64BitWindows, InstallationRecord& record) {
  std::memset(&record, 0, sizeof(record));
  UniqueKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallationRecordKey, 0, KEY_READ | ViewOf(is64BitWindows),
                    key.Receive()) != ERROR_SUCCESS)
    return false;
  if (!ReadText(key.Get(), "InstallDir", record.installDir, kPathCapacity) || record.installDir[0] == '\0' ||
      !ReadText(key.Get(), "WorkDir", record.workDir, kPathCapacity) ||
      !ReadText(key.Get(), "UninstallEntry", record.uninstallEntry, kPathCapacity) ||
      !ReadText(key.Get(), kShortcutTargetValue, record.shortcutTarget, kPathCapacity))
    return false;
  for (int i = 0; i < 2; ++i)
    if (!ReadText(key.Get(), kShortcutValues[i], record.shortcuts[i], kPathCapacity)) return false;

  UniqueKey files, folders, values;
  if (OpenSub(key.Get(), kFilesKey, KEY_READ, false, files) != ERROR_SUCCESS ||
      OpenSub(key.Get(), kFoldersKey, KEY_READ, false, folders) != ERROR_SUCCESS)
    return false;
  const bool filesRead = ForEachValue(files.Get(), [&](const char* name, const BYTE* data, DWORD size) {
    if (size != kFileDataSize || record.fileCount >= kMaxRecordedFiles) return false;
    RecordedFile& file = record.files[record.fileCount++];
    CopyPath(file.path, name);
    file.size = ReadLe64(data);
    file.writeTime = ReadLe64(data + 8);
    file.kind = data[16] ? RecordedFileKind::Work : RecordedFileKind::Program;
    return true;
  });
  const bool foldersRead = ForEachValue(folders.Get(), [&](const char* name, const BYTE*, DWORD) {
    if (record.folderCount >= kMaxRecordedFolders) return false;
    CopyPath(record.folders[record.folderCount++], name);
    return true;
  });
  // A reinstallation's record has no class values.
  bool valuesRead = true;
  if (OpenSub(key.Get(), kValuesKey, KEY_READ, false, values) == ERROR_SUCCESS) {
    valuesRead = ForEachValue(values.Get(), [&](const char*, const BYTE* data, DWORD size) {
      return record.valueCount < kMaxRecordedValues && ParseValue(data, size, record.values[record.valueCount++]);
    });
  }
  return filesRead && foldersRead && valuesRead;
}

namespace {

// The record's key and its earlier copy's, under HKLM\Software.
const char* const kRecordName = kInstallationRecordKey + sizeof("Software\\") - 1;
constexpr char kEarlierRecordName[] = "VelmorixInstallation.Earlier";

LONG OpenSoftware(bool is64BitWindows, UniqueKey& software) {
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS | ViewOf(is64BitWindows), software.Receive());
}

LONG DeleteTreeIfThere(HKEY parent, const char* name) {
  const LONG result = RegDeleteTreeA(parent, name);
  return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
}

// `from` copied whole to a new key `to` under the same parent (none may stand there).
LONG CopyKey(HKEY parent, const char* from, const char* to) {
  UniqueKey source, target;
  LONG result = RegOpenKeyExA(parent, from, 0, KEY_READ, source.Receive());
  if (result == ERROR_SUCCESS)
    result = RegCreateKeyExA(parent, to, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                             target.Receive(), nullptr);
  if (result == ERROR_SUCCESS) result = RegCopyTreeA(source.Get(), nullptr, target.Get());
  if (result == ERROR_SUCCESS) result = RegFlushKey(target.Get());
  return result;
}

}  // namespace

bool DeleteInstallationRecord(bool is64BitWindows) {
  UniqueKey software;
  return OpenSoftware(is64BitWindows, software) == ERROR_SUCCESS &&
         DeleteTreeIfThere(software.Get(), kRecordName) == ERROR_SUCCESS;
}

LONG KeepEarlierInstallationRecord(bool is64BitWindows) {
  UniqueKey software;
  LONG result = OpenSoftware(is64BitWindows, software);
  if (result == ERROR_SUCCESS) result = DeleteTreeIfThere(software.Get(), kEarlierRecordName);
  if (result == ERROR_SUCCESS) result = CopyKey(software.Get(), kRecordName, kEarlierRecordName);
  return result;
}

LONG PutBackEarlierInstallationRecord(bool is64BitWindows) {
  UniqueKey software, earlier;
  LONG result = OpenSoftware(is64BitWindows, software);
  // Without the copy (taken back before a kill) the record is already the earlier one.
  if (result == ERROR_SUCCESS &&
      RegOpenKeyExA(software.Get(), kEarlierRecordName, 0, KEY_READ, earlier.Receive()) == ERROR_FILE_NOT_FOUND)
    return ERROR_SUCCESS;
  earlier.Reset();
  if (result == ERROR_SUCCESS) result = DeleteTreeIfThere(software.Get(), kRecordName);
  if (result == ERROR_SUCCESS) result = CopyKey(software.Get(), kEarlierRecordName, kRecordName);
  if (result == ERROR_SUCCESS) result = DeleteTreeIfThere(software.Get(), kEarlierRecordName);
  return result;
}

LONG ForgetEarlierInstallationRecord(bool is64BitWindows) {
  UniqueKey software;
  LONG result = OpenSoftware(is64BitWindows, software);
  if (result == ERROR_SUCCESS) result = DeleteTreeIfThere(software.Get(), kEarlierRecordName);
  return result;
}
