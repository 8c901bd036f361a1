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
