// Libraries of the elevated installer come from the system folder only: what the
// built executable imports, where comctl32 comes from, and the search order for
// later loads.
#include "shared/system_libraries.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine_test_support.h"

namespace {

// The DLL names in a PE file's import and delay-import tables (lower case).
std::vector<std::string> ImportedLibraries(const std::string& content, std::string* error) {
  std::vector<std::string> names;
  const auto fits = [&](std::size_t at, std::size_t size) { return at <= content.size() && size <= content.size() - at; };
  IMAGE_DOS_HEADER dos;
  IMAGE_NT_HEADERS32 nt;
  if (!fits(0, sizeof(dos))) return *error = "no DOS header", names;
  std::memcpy(&dos, content.data(), sizeof(dos));
  const auto ntAt = static_cast<std::size_t>(dos.e_lfanew);
  if (dos.e_magic != IMAGE_DOS_SIGNATURE || !fits(ntAt, sizeof(nt))) return *error = "no PE header", names;
  std::memcpy(&nt, content.data() + ntAt, sizeof(nt));
  if (nt.Signature != IMAGE_NT_SIGNATURE || nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC)
    return *error = "not a 32-bit PE file", names;
  std::vector<IMAGE_SECTION_HEADER> sections(nt.FileHeader.NumberOfSections);
  const std::size_t sectionsAt = ntAt + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + nt.FileHeader.SizeOfOptionalHeader;
  if (!fits(sectionsAt, sections.size() * sizeof(IMAGE_SECTION_HEADER))) return *error = "section table", names;
  std::memcpy(sections.data(), content.data() + sectionsAt, sections.size() * sizeof(IMAGE_SECTION_HEADER));
  const auto offsetOf = [&](DWORD rva) -> std::size_t {
    for (const IMAGE_SECTION_HEADER& s : sections)
      if (rva >= s.VirtualAddress && rva - s.VirtualAddress < s.SizeOfRawData)
        return s.PointerToRawData + (rva - s.VirtualAddress);
    return content.size();
  };
  const auto nameAt = [&](DWORD rva) {
    const std::size_t at = offsetOf(rva);
    std::string name;
    for (std::size_t k = at; k < content.size() && content[k] != '\0'; ++k)
      name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(content[k]))));
    return name;
  };
  // Import descriptors are 20 bytes, delay-load descriptors 32; both end with a zero
  // entry, and the DLL's name is the fourth field of the first, the second of the other.
  const struct {
    int directory;
    std::size_t size;
    std::size_t nameField;
  } tables[] = {{IMAGE_DIRECTORY_ENTRY_IMPORT, 20, 12}, {IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT, 32, 4}};
  for (const auto& table : tables) {
    const DWORD rva = nt.OptionalHeader.DataDirectory[table.directory].VirtualAddress;
    if (rva == 0) continue;
    for (std::size_t at = offsetOf(rva); fits(at, table.size); at += table.size) {
      DWORD name = 0;
      std::memcpy(&name, content.data() + at + table.nameField, sizeof(name));
      if (name == 0) break;
      names.push_back(nameAt(name));
    }
  }
  return names;
}

TEST(SystemLibraries, TheInstallerImportsOnlyKnownSystemDlls) {
  const char* path = std::getenv("VELMORIX_INSTALLER");
  ASSERT_NE(path, nullptr);
  std::string error;
  const std::vector<std::string> imports = ImportedLibraries(enginetest::ReadWholeFile(path), &error);
  ASSERT_TRUE(error.empty()) << error;
  ASSERT_FALSE(imports.empty());
  // Libraries Windows lists among its known DLLs: always taken from the system folder,
  // never from the folder the installer was started from.
  const std::vector<std::string> known = {"kernel32.dll", "user32.dll", "gdi32.dll",  "advapi32.dll",
                                          "shell32.dll",  "ole32.dll",  "oleaut32.dll", "shlwapi.dll",
                                          "msvcrt.dll",   "comdlg32.dll"};
  for (const std::string& name : imports)
    EXPECT_NE(std::find(known.begin(), known.end(), name), known.end()) << path << " imports " << name;
}

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
