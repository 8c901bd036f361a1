// Reading back and removing registry keys in a chosen view (KEY_WOW64_64KEY or
// KEY_WOW64_32KEY), for the tests of every level that look at what an installation
// registered.
#pragma once
#include <windows.h>

#include <string>

#include "shared/raii.h"

// A value as stored: its type and its exact bytes (a REG_SZ keeps its terminator).
struct StoredValue {
  bool present = false;
  DWORD type = REG_NONE;
  std::string bytes;
};

inline bool KeyExists(HKEY root, const char* path, REGSAM view) {
  UniqueKey key;
  return RegOpenKeyExA(root, path, 0, KEY_READ | view, key.Receive()) == ERROR_SUCCESS;
}

inline StoredValue ReadStoredValue(HKEY root, const char* path, const char* name, REGSAM view) {
  StoredValue value;
  UniqueKey key;
  if (RegOpenKeyExA(root, path, 0, KEY_READ | view, key.Receive()) != ERROR_SUCCESS) return value;
  char data[1024];
  DWORD size = sizeof(data);
  if (RegQueryValueExA(key.Get(), name, nullptr, &value.type, reinterpret_cast<BYTE*>(data), &size) !=
      ERROR_SUCCESS)
    return value;
  value.present = true;
  value.bytes.assign(data, size);
  return value;
}

// The bytes a REG_SZ value holds when the terminator was stored with the text.
inline std::string Terminated(const std::string& text) { return std::string(text.c_str(), text.size() + 1); }

inline std::string DwordBytes(DWORD value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof(value));
}

// Removes parent\name and everything under it; a missing key is no error.
inline void DeleteKeyTree(HKEY root, const char* parent, const char* name, REGSAM view) {
  UniqueKey key;
  if (RegOpenKeyExA(root, parent, 0, KEY_ALL_ACCESS | view, key.Receive()) != ERROR_SUCCESS) return;
  RegDeleteTreeA(key.Get(), name);
}

// What an installation registers, removed: the uninstall entry, and the class keys
// of the file-type association.
// The installation's record (engine/installation_record.h) goes with the entry.
inline void RemoveUninstallEntryKey(REGSAM view) {
  DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", "Velmorix", view);
  DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software", "VelmorixInstallation", view);
}

inline void RemoveAssociationKeys(REGSAM view) {
  for (const char* name : {".qzp", "Applications\\Velmorix.exe", "qzl"}) DeleteKeyTree(HKEY_CLASSES_ROOT, "", name, view);
}
