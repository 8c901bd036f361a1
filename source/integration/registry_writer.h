// The registry writes shared by the uninstall entry and the file-type association:
// keys created non-volatile in the requested view, REG_SZ values stored with their
// terminating zero.
#pragma once
#include <windows.h>

#include <cstddef>

#include "shared/raii.h"

// One REG_SZ value. A null text stands for a text that could not be built whole:
// it is not written and counts as a failed write.
struct RegistryText {
  const char* name;  // "" for the key's unnamed (default) value
  const char* text;
};

// Creates or opens root\subKey (REG_OPTION_NON_VOLATILE) with `access`.
LONG CreateKeyForWriting(HKEY root, const char* subKey, REGSAM access, UniqueKey& key);

// Writes a REG_SZ value; the byte count includes the terminator. A null text gives
// ERROR_INSUFFICIENT_BUFFER and writes nothing.
LONG WriteTextValue(HKEY key, const char* name, const char* text);

LONG WriteDwordValue(HKEY key, const char* name, DWORD value);

// Writes every value in order, also after a failing one. True when all succeeded;
// otherwise *lastError (when given) receives the last failing write's result.
bool WriteTextValues(HKEY key, const RegistryText* values, std::size_t count, LONG* lastError = nullptr);

enum class KeyWriteResult { Ok, KeyFailed, ValuesFailed };

// Creates root\subKey, writes its values (none for a key that is its own entry) and
// closes it again. *error (when given) receives the result of the call that failed.
KeyWriteResult WriteKeyWithValues(HKEY root, const char* subKey, REGSAM access,
                                  const RegistryText* values, std::size_t count, LONG* error = nullptr);

// ---- What a write replaced, and putting it back ----

constexpr std::size_t kReplacedNameCapacity = 64;
constexpr std::size_t kReplacedDataCapacity = 1024;
constexpr std::size_t kReplacedValuesPerKey = 14;

// One value as it stood before the installation wrote it.
struct ReplacedValue {
  char name[kReplacedNameCapacity];  // "" for the key's unnamed value
  bool existed;                      // the value was there
  bool whole;                        // its data fit into `data` (only then can it be put back)
  DWORD type;
  DWORD size;  // bytes in data
  unsigned char data[kReplacedDataCapacity];
};

// One key as it stood before the installation wrote it: how many trailing parts of
// its path the write was about to create (0: the key was there), and each value it
// was about to write.
struct ReplacedKey {
  char path[260];  // under its root, as the writing unit names it
  unsigned createdLevels;
  unsigned valueCount;
  ReplacedValue values[kReplacedValuesPerKey];
};

// Reads root\path in `view` (KEY_WOW64_64KEY or 0) and the named values before a
// write. ERROR_SUCCESS also when the key or values are missing (that is recorded);
// otherwise the error of the read that failed (the record is then not to be used).
LONG RecordReplacedKey(HKEY root, const char* path, REGSAM view, const char* const* names,
                       std::size_t count, ReplacedKey& out);

// Puts one value of an open key (KEY_SET_VALUE) back as `before` records it: its old
// data, or no value when there was none.
LONG PutBackValue(HKEY key, const ReplacedValue& before);

// Whether the value `name` of an open key (KEY_QUERY_VALUE) is absent (ERROR_FILE_NOT_FOUND),
// holds exactly the REG_SZ `text` with its terminator (ERROR_SUCCESS) or something
// else (ERROR_INVALID_DATA); another code when the read failed.
LONG CheckTextValue(HKEY key, const char* name, const char* text);

// Whether the value of an open key (KEY_QUERY_VALUE) still stands as `before` records
// it: absent when it was, else the same type and bytes (ERROR_SUCCESS), or not
// (ERROR_INVALID_DATA); another code when the read failed.
LONG CheckValueAsRecorded(HKEY key, const ReplacedValue& before);
// Deletes the trailing `levels` parts of root\path that are empty (no values, no
// subkeys), deepest first, stopping at the first that is not. A missing part counts
// as deleted.
LONG DeleteEmptyLevels(HKEY root, const char* path, REGSAM view, unsigned levels);

// ---- A record kept compactly (in a run's journal) ----

// The record as bytes: the path, the created levels, then each value's name, whether
// it existed and was whole, its type and only the bytes it held. 0 when it does not
// fit into `capacity` bytes.
std::size_t PackReplacedKey(const ReplacedKey& key, unsigned char* out, std::size_t capacity);

// Reads back a record written by PackReplacedKey from the start of `data`: the bytes
// it took, or 0 when they do not make a sound record (`key` is then not to be used).
std::size_t UnpackReplacedKey(const unsigned char* data, std::size_t size, ReplacedKey& key);

// The most bytes one packed record takes.
constexpr std::size_t kPackedKeyCapacity =
    sizeof(ReplacedKey::path) + 2 + kReplacedValuesPerKey * (kReplacedNameCapacity + 9 + kReplacedDataCapacity);
