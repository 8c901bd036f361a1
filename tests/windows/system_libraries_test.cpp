// Libraries of the elevated installer come from the system folder only: where
// comctl32 comes from, and the search order for later loads. (What the built
// executable imports: installer_resources_test.cpp.)
#include "shared/system_libraries.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

TEST(SystemLibraries, ProgressBarsComeFromTheSystemFoldersComctl32) {
  ASSERT_EQ(GetModuleHandleA("comctl32.dll"), nullptr) << "this test program must not import comctl32";
  ASSERT_TRUE(InitProgressBarControls());
  WNDCLASSEXA progress{};
  progress.cbSize = sizeof(progress);
  EXPECT_TRUE(GetClassInfoExA(nullptr, "msctls_progress32", &progress));
  char loaded[MAX_PATH] = {};
  GetModuleFileNameA(GetModuleHandleA("comctl32.dll"), loaded, MAX_PATH);
  char expected[MAX_PATH] = {};
  ASSERT_TRUE(SystemLibraryPath("comctl32.dll", expected, sizeof(expected)));
  EXPECT_EQ(lstrcmpiA(loaded, expected), 0) << loaded;
}

// A library beside the program is found by name until the search is restricted.
TEST(SystemLibraries, LaterLoadsNoLongerSearchTheProgramsFolder) {
  char self[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  std::string planted = self;
  planted = planted.substr(0, planted.rfind('\\') + 1) + "vxplanted" + std::to_string(GetCurrentProcessId()) + ".dll";
  const char* installer = std::getenv("VELMORIX_INSTALLER");
  ASSERT_NE(installer, nullptr);
  ASSERT_TRUE(CopyFileA(installer, planted.c_str(), FALSE));  // any PE file will do
  const std::string name = planted.substr(planted.rfind('\\') + 1);

  HMODULE before = LoadLibraryExA(name.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  EXPECT_NE(before, nullptr) << "the planted library is not found even by the default search";
  if (before) FreeLibrary(before);
  RestrictDllSearchToSystemFolder();
  HMODULE after = LoadLibraryExA(name.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  EXPECT_EQ(after, nullptr) << "loaded from beside the program after the search was restricted";
  if (after) FreeLibrary(after);
  DeleteFileA(planted.c_str());
}

}  // namespace
