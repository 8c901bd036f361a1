#include "e2e/machine_snapshot.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "e2e/e2e_fixture.h"
#include "shared/raii.h"
#include "support/registry.h"

namespace e2e {
namespace {

constexpr std::size_t kShownBytes = 48;   // data longer than this shows as its size and hash
constexpr std::size_t kMaxListed = 40;    // differences listed in one failure
constexpr int kMaxDepth = 64;

std::uint64_t Fnv1a(const unsigned char* data, std::size_t size, std::uint64_t hash = 14695981039346656037ull) {
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211ull;
  return hash;
}

std::string Hex(std::uint64_t value) {
  char text[20];
  std::snprintf(text, sizeof(text), "%016llx", static_cast<unsigned long long>(value));
  return text;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && _strnicmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
}

bool Skipped(const std::string& path) {
  for (const std::string& own : WineOwnPaths())
    if (StartsWithNoCase(path, own)) return true;
  return StartsWithNoCase(path, std::string(kScratch) + "\\");
}

std::string FileContent(const std::string& path, std::uint64_t size) {
  const UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return "size " + std::to_string(size) + ", unreadable";
  static std::vector<unsigned char> buffer(1 << 20);
  std::uint64_t hash = Fnv1a(nullptr, 0);
  DWORD got = 0;
  while (ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0)
    hash = Fnv1a(buffer.data(), got, hash);
  return "size " + std::to_string(size) + ", hash " + Hex(hash);
}

void AddFolder(MachineSnapshot& snapshot, const std::string& folder, int depth) {
  WIN32_FIND_DATAA found;
  const UniqueFind search(FindFirstFileA((folder + "*").c_str(), &found));
  if (!search || depth > kMaxDepth) return;
  do {
    if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0) continue;
    const std::string path = folder + found.cFileName;
    if (Skipped(path + "\\")) continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      snapshot.entries[path] = "link";  // not entered: what it leads to is not its folder's
    } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      snapshot.entries[path + "\\"] = "folder";
      AddFolder(snapshot, path + "\\", depth + 1);
    } else {
      const std::uint64_t size = (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
      snapshot.entries[path] = FileContent(path, size);
    }
  } while (FindNextFileA(search.Get(), &found));
}

const char* TypeName(DWORD type) {
  switch (type) {
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_DWORD: return "REG_DWORD";
    case REG_QWORD: return "REG_QWORD";
    case REG_BINARY: return "REG_BINARY";
    case REG_NONE: return "REG_NONE";
    default: return "REG_?";
  }
}

std::string ValueContent(DWORD type, const unsigned char* data, DWORD size) {
  std::string shown = std::string(TypeName(type)) + " " + std::to_string(type) + ", " + std::to_string(size) + " bytes";
  if (size > kShownBytes) return shown + ", hash " + Hex(Fnv1a(data, size));
  const bool text = type == REG_SZ || type == REG_EXPAND_SZ;
  shown += text ? " \"" : " ";
  for (DWORD i = 0; i < size; ++i) {
    char byte[4];
    if (text && data[i] >= 0x20)
      shown += static_cast<char>(data[i]);
    else {
      std::snprintf(byte, sizeof(byte), text ? "\\%02x" : "%02x", data[i]);
      shown += byte;
    }
  }
  return text ? shown + "\"" : shown;
}

void AddKey(MachineSnapshot& snapshot, HKEY root, const std::string& shownRoot, const std::string& path) {
  KeyTreeVisitor visit;
  visit.key = [&](const std::string& key) {
    const std::string shown = shownRoot + "\\" + key + "\\";
    if (Skipped(shown)) return false;
    snapshot.entries[shown] = "key";
    return true;
  };
  visit.value = [&](const std::string& key, const std::string& name, DWORD type, const unsigned char* data,
                    DWORD size) {
    const std::string valuePath = shownRoot + "\\" + key + " : " + name;
    if (!Skipped(valuePath)) snapshot.entries[valuePath] = ValueContent(type, data, size);
  };
  WalkKeyTree(root, path, KEY_WOW64_64KEY, visit);
}

}  // namespace

const std::vector<std::string>& WineOwnPaths() {
  // Found by comparing snapshots taken around idle Wine runs: Wine's system folder,
  // and what its own services rewrite at each start.
  static const std::vector<std::string> paths = {
      "C:\\windows\\",
      // A registry link to HKLM\Software\Classes\Wow6432Node, which is walked already.
      "HKLM\\Software\\Wow6432Node\\Classes\\",
  };
  return paths;
}

MachineSnapshot TakeMachineSnapshot() {
  MachineSnapshot snapshot;
  AddFolder(snapshot, "C:\\", 0);
  AddKey(snapshot, HKEY_LOCAL_MACHINE, "HKLM", "Software");
  AddKey(snapshot, HKEY_CURRENT_USER, "HKCU", "Software\\Classes");
  return snapshot;
}

::testing::AssertionResult SameMachine(const MachineSnapshot& before, const MachineSnapshot& after,
                                       const std::vector<std::string>& allowed) {
  std::vector<std::string> differences;
  const auto note = [&](const std::string& path, const std::string& what) {
    for (const std::string& prefix : allowed)
      if (StartsWithNoCase(path, prefix)) return;
    differences.push_back(what + path);
  };
  auto old = before.entries.begin();
  auto now = after.entries.begin();
  while (old != before.entries.end() || now != after.entries.end()) {
    if (now == after.entries.end() || (old != before.entries.end() && old->first < now->first)) {
      note(old->first, "removed " + old->second + ": ");
      ++old;
    } else if (old == before.entries.end() || now->first < old->first) {
      note(now->first, "added " + now->second + ": ");
      ++now;
    } else {
      if (old->second != now->second) note(old->first, "changed " + old->second + " -> " + now->second + ": ");
      ++old;
      ++now;
    }
  }
  if (differences.empty())
    return ::testing::AssertionSuccess() << "the same " << after.entries.size() << " files, keys and values";
  ::testing::AssertionResult failure = ::testing::AssertionFailure();
  failure << differences.size() << " differences:";
  for (std::size_t i = 0; i < differences.size() && i < kMaxListed; ++i) failure << "\n  " << differences[i];
  if (differences.size() > kMaxListed) failure << "\n  ...";
  return failure;
}

}  // namespace e2e
