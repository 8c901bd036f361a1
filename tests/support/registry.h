// Reading back and removing registry keys in a chosen view (KEY_WOW64_64KEY or
// KEY_WOW64_32KEY), for the tests of every level that look at what an installation
// registered.
#pragma once
#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

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

// Sets the REG_SZ value `name` of root\path (the key made when missing) to `text`,
// its terminator stored; false when either step fails.
inline bool WriteStringValue(HKEY root, const char* path, const char* name, const std::string& text,
                             REGSAM view = 0) {
  UniqueKey key;
  return RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, key.Receive(), nullptr) ==
             ERROR_SUCCESS &&
         RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
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

// Every key under root\path (path itself included) and every value in them, a key's
// values before its sub-keys, to at most 64 levels. `key` hears of each key opened
// (false: the key is left out, with its values and sub-keys); `value` of each value
// with its name, type and exact data.
struct KeyTreeVisitor {
  std::function<bool(const std::string& path)> key;
  std::function<void(const std::string& path, const std::string& name, DWORD type, const unsigned char* data,
                     DWORD size)>
      value;
};

inline void WalkKeyTree(HKEY root, const std::string& path, REGSAM view, const KeyTreeVisitor& visit, int depth = 0) {
  UniqueKey key;
  if (depth > 64 || RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, key.Receive()) != ERROR_SUCCESS) return;
  DWORD subKeys = 0, longestSubKey = 0, values = 0, longestName = 0, longestData = 0;
  if (RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subKeys, &longestSubKey, nullptr, &values, &longestName,
                       &longestData, nullptr, nullptr) != ERROR_SUCCESS ||
      !visit.key(path))
    return;
  std::vector<char> name(longestName + 2);
  std::vector<unsigned char> data(longestData + 2);
  for (DWORD i = 0; i < values; ++i) {
    DWORD nameSize = static_cast<DWORD>(name.size());
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    if (RegEnumValueA(key.Get(), i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize) == ERROR_SUCCESS)
      visit.value(path, std::string(name.data(), nameSize), type, data.data(), dataSize);
  }
  std::vector<std::string> children;
  std::vector<char> child(longestSubKey + 2);
  for (DWORD i = 0; i < subKeys; ++i) {
    DWORD childSize = static_cast<DWORD>(child.size());
    if (RegEnumKeyExA(key.Get(), i, child.data(), &childSize, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
      children.emplace_back(child.data(), childSize);
  }
  key.Reset();
  for (const std::string& each : children) WalkKeyTree(root, path + "\\" + each, view, visit, depth + 1);
}

// Every key and value under root\path as name -> content ("key" for a key, the type
// and bytes for a value), to compare a part of the registry before and after.
using RegistryDump = std::map<std::string, std::string>;

inline void DumpKeyTree(HKEY root, const std::string& path, REGSAM view, RegistryDump& out) {
  KeyTreeVisitor visit;
  visit.key = [&out](const std::string& key) {
    out[key] = "key";
    return true;
  };
  visit.value = [&out](const std::string& key, const std::string& name, DWORD type, const unsigned char* data,
                       DWORD size) {
    out[key + "|" + name] = std::to_string(type) + ":" + std::string(reinterpret_cast<const char*>(data), size);
  };
  WalkKeyTree(root, path, view, visit);
}
