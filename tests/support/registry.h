// Reading back and removing registry keys in a chosen view (KEY_WOW64_64KEY or
// KEY_WOW64_32KEY), for the tests of every level that look at what an installation
// registered.
#pragma once
#include <windows.h>

#include <map>
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

// Every key and value under root\path as name -> content ("key" for a key, the type
// and bytes for a value), to compare a part of the registry before and after.
using RegistryDump = std::map<std::string, std::string>;

inline void DumpKeyTree(HKEY root, const std::string& path, REGSAM view, RegistryDump& out) {
  UniqueKey key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, key.Receive()) != ERROR_SUCCESS) return;
  out[path] = "key";
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD nameSize = sizeof(name);
    char data[2048];
    DWORD dataSize = sizeof(data);
    DWORD type = REG_NONE;
    const LONG read =
        RegEnumValueA(key.Get(), index, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize);
    // A value too long for the buffer still counts (by its size), and the values after it too.
    if (read == ERROR_MORE_DATA && nameSize < sizeof(name)) {
      out[path + "|" + std::string(name, nameSize)] = std::to_string(type) + ": " + std::to_string(dataSize) + " bytes";
      continue;
    }
    if (read != ERROR_SUCCESS) break;
    out[path + "|" + name] = std::to_string(type) + ":" + std::string(data, dataSize);
  }
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD nameSize = sizeof(name);
    if (RegEnumKeyExA(key.Get(), index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    DumpKeyTree(root, path + "\\" + name, view, out);
  }
}
