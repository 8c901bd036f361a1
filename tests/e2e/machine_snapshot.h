// What a test can see of the whole machine at one moment: every file and folder on
// C: (Wine's own folders and the test's scratch folder left out) with its size and a
// hash of its content, and every key and value under HKLM\Software (both registry
// views: the 32-bit one lies in its Wow6432Node keys) and the user's part of
// HKEY_CLASSES_ROOT, with each value's type and data. Two snapshots compare into a
// readable list of what was added, removed or changed.
#pragma once
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace e2e {

struct MachineSnapshot {
  // "C:\Program Files\Tarkweller\" (a folder), "C:\...\Velmorix.exe" (a file),
  // "HKLM\Software\...\" (a key), "HKLM\Software\...\Key : name" (a value); each
  // with what it holds ("size 12, hash 0123...", "REG_SZ \"text\"").
  std::map<std::string, std::string> entries;
};

// Paths that Wine itself changes between two runs, whatever the test does.
const std::vector<std::string>& WineOwnPaths();

MachineSnapshot TakeMachineSnapshot();

// Success when `after` holds exactly what `before` held, except below the paths of
// `allowed` (prefixes, as the entries spell them, any case); otherwise every other
// difference, one a line.
::testing::AssertionResult SameMachine(const MachineSnapshot& before, const MachineSnapshot& after,
                                       const std::vector<std::string>& allowed = std::vector<std::string>());

}  // namespace e2e
