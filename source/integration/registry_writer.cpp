#include "integration/registry_writer.h"

#include <cstring>

LONG CreateKeyForWriting(HKEY root, const char* subKey, REGSAM access, UniqueKey& key) {
  DWORD disposition = 0;
  return RegCreateKeyExA(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                         key.Receive(), &disposition);
}

LONG WriteTextValue(HKEY key, const char* name, const char* text) {
  if (text == nullptr) return ERROR_INSUFFICIENT_BUFFER;
  // The terminator is stored with the text, so readers get a terminated string.
  const DWORD byteCount = static_cast<DWORD>(std::strlen(text) + 1);
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), byteCount);
}

LONG WriteDwordValue(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof(value));
}

bool WriteTextValues(HKEY key, const RegistryText* values, std::size_t count, LONG* lastError) {
  bool allWritten = true;
  for (std::size_t i = 0; i < count; ++i) {
    const LONG result = WriteTextValue(key, values[i].name, values[i].text);
    if (result == ERROR_SUCCESS) continue;
    allWritten = false;
    if (lastError) *lastError = result;
  }
  return allWritten;
}

KeyWriteResult WriteKeyWithValues(HKEY root, const char* subKey, REGSAM access,
                                  const RegistryText* values, std::size_t count, LONG* error) {
  UniqueKey key;
  const LONG created = CreateKeyForWriting(root, subKey, access, key);
  if (created != ERROR_SUCCESS) {
    if (error) *error = created;
    return KeyWriteResult::KeyFailed;
  }
  return WriteTextValues(key.Get(), values, count, error) ? KeyWriteResult::Ok
                                                          : KeyWriteResult::ValuesFailed;
}
