// The built installer as a file: what it imports (libraries come from the system
// folder only) and what its initialised data holds. The file is mapped as an image
// without running anything of it, so its tables are read at their addresses.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "shared/installer_state.h"

namespace {

class MappedInstaller {
 public:
  MappedInstaller() {
    const char* path = std::getenv("VELMORIX_INSTALLER");
    module_ = path ? LoadLibraryExA(path, nullptr, DONT_RESOLVE_DLL_REFERENCES) : nullptr;
  }
  ~MappedInstaller() {
    if (module_) FreeLibrary(module_);
  }
  MappedInstaller(const MappedInstaller&) = delete;
  MappedInstaller& operator=(const MappedInstaller&) = delete;

  bool Loaded() const { return module_ != nullptr; }
  const BYTE* At(DWORD rva) const { return reinterpret_cast<const BYTE*>(module_) + rva; }
  const IMAGE_NT_HEADERS32* Headers() const {
    return reinterpret_cast<const IMAGE_NT_HEADERS32*>(At(static_cast<DWORD>(
        reinterpret_cast<const IMAGE_DOS_HEADER*>(module_)->e_lfanew)));
  }

 private:
  HMODULE module_ = nullptr;
};

TEST(InstallerFile, ImportsOnlyKnownSystemDlls) {
  const MappedInstaller file;
  ASSERT_TRUE(file.Loaded()) << GetLastError();
  const IMAGE_DATA_DIRECTORY* directories = file.Headers()->OptionalHeader.DataDirectory;
  EXPECT_EQ(directories[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].VirtualAddress, 0u) << "delay-loaded libraries";
  // Libraries Windows lists among its known DLLs: always taken from the system folder,
  // never from the folder the installer was started from (comctl32 is not one).
  const std::vector<std::string> known = {"kernel32.dll", "user32.dll",   "gdi32.dll",   "advapi32.dll",
                                          "shell32.dll",  "ole32.dll",    "oleaut32.dll", "shlwapi.dll",
                                          "msvcrt.dll",   "comdlg32.dll"};
  int count = 0;
  for (auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
           file.At(directories[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress));
       import->Name != 0; ++import, ++count) {
    std::string name = reinterpret_cast<const char*>(file.At(import->Name));
    std::transform(name.begin(), name.end(), name.begin(), [](char c) { return static_cast<char>(tolower(c)); });
    EXPECT_NE(std::find(known.begin(), known.end(), name), known.end()) << "imports " << name;
  }
  EXPECT_GT(count, 0);
}

// The shared record's start values are not all zero; built as constant data it would
// put its 260 KB list of created files into the file.
TEST(InstallerFile, InitialisedDataCannotHoldTheSharedRecord) {
  const MappedInstaller file;
  ASSERT_TRUE(file.Loaded()) << GetLastError();
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(file.Headers());
  for (WORD i = 0; i < file.Headers()->FileHeader.NumberOfSections; ++i, ++section) {
    const char* text = reinterpret_cast<const char*>(section->Name);
    const std::string name(text, strnlen(text, 8));
    const DWORD writableData = IMAGE_SCN_MEM_WRITE | IMAGE_SCN_CNT_INITIALIZED_DATA;
    // The resources, the payload among them, are writable to the linker.
    if ((section->Characteristics & writableData) != writableData || name == ".rsrc") continue;
    EXPECT_LT(section->SizeOfRawData, sizeof(InstallerState)) << name << " holds " << section->SizeOfRawData;
  }
}

}  // namespace
