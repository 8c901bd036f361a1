// The built installer as a file: what it imports (libraries come from the system
// folder only) and what its initialised data holds.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "shared/installer_state.h"

namespace {

// The headers and section table of a 32-bit PE file, read with a bound check each.
class PeFile {
 public:
  explicit PeFile(std::string content) : content_(std::move(content)) {
    IMAGE_DOS_HEADER dos;
    if (!Read(0, &dos, sizeof(dos)) || dos.e_magic != IMAGE_DOS_SIGNATURE) return;
    const auto at = static_cast<std::size_t>(dos.e_lfanew);
    if (!Read(at, &nt_, sizeof(nt_)) || nt_.Signature != IMAGE_NT_SIGNATURE ||
        nt_.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC)
      return;
    sections_.resize(nt_.FileHeader.NumberOfSections);
    const std::size_t table = at + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + nt_.FileHeader.SizeOfOptionalHeader;
    valid_ = Read(table, sections_.data(), sections_.size() * sizeof(IMAGE_SECTION_HEADER));
  }
  bool Valid() const { return valid_; }
  const std::vector<IMAGE_SECTION_HEADER>& Sections() const { return sections_; }

  // The DLL names in the import and delay-import tables (lower case).
  std::vector<std::string> ImportedLibraries() const {
    std::vector<std::string> names;
    // Import descriptors are 20 bytes, delay-load descriptors 32; both lists end with
    // a zero entry; the DLL's name is at offset 12 of the first, 4 of the other.
    const struct {
      int directory;
      std::size_t size;
      std::size_t nameField;
    } tables[] = {{IMAGE_DIRECTORY_ENTRY_IMPORT, 20, 12}, {IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT, 32, 4}};
    for (const auto& table : tables) {
      const DWORD rva = nt_.OptionalHeader.DataDirectory[table.directory].VirtualAddress;
      if (rva == 0) continue;
      DWORD name = 0;
      for (std::size_t at = OffsetOf(rva); Read(at + table.nameField, &name, sizeof(name)) && name != 0;
           at += table.size) {
        std::string text;
        for (std::size_t k = OffsetOf(name); k < content_.size() && content_[k] != '\0'; ++k)
          text.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(content_[k]))));
        names.push_back(text);
      }
    }
    return names;
  }

 private:
  bool Read(std::size_t at, void* out, std::size_t size) const {
    if (at > content_.size() || size > content_.size() - at) return false;
    std::memcpy(out, content_.data() + at, size);
    return true;
  }
  // The file offset of an RVA, or the file's size when no section's data holds it.
  std::size_t OffsetOf(DWORD rva) const {
    for (const IMAGE_SECTION_HEADER& s : sections_)
      if (rva >= s.VirtualAddress && rva - s.VirtualAddress < s.SizeOfRawData)
        return s.PointerToRawData + (rva - s.VirtualAddress);
    return content_.size();
  }

  std::string content_;
  IMAGE_NT_HEADERS32 nt_{};
  std::vector<IMAGE_SECTION_HEADER> sections_;
  bool valid_ = false;
};

PeFile BuiltInstaller() {
  const char* path = std::getenv("VELMORIX_INSTALLER");
  if (path == nullptr) ADD_FAILURE() << "VELMORIX_INSTALLER is not set";
  return PeFile(path ? enginetest::ReadWholeFile(path) : std::string());
}

TEST(InstallerFile, ImportsOnlyKnownSystemDlls) {
  const PeFile file = BuiltInstaller();
  ASSERT_TRUE(file.Valid());
  const std::vector<std::string> imports = file.ImportedLibraries();
  ASSERT_FALSE(imports.empty());
  // Libraries Windows lists among its known DLLs: always taken from the system folder,
  // never from the folder the installer was started from (comctl32 is not one).
  const std::vector<std::string> known = {"kernel32.dll", "user32.dll",   "gdi32.dll",   "advapi32.dll",
                                          "shell32.dll",  "ole32.dll",    "oleaut32.dll", "shlwapi.dll",
                                          "msvcrt.dll",   "comdlg32.dll"};
  for (const std::string& name : imports)
    EXPECT_NE(std::find(known.begin(), known.end(), name), known.end()) << "imports " << name;
}

// The shared record's start values are not all zero; built as constant data it would
// put its 260 KB list of created files into the file.
TEST(InstallerFile, InitialisedDataCannotHoldTheSharedRecord) {
  const PeFile file = BuiltInstaller();
  ASSERT_TRUE(file.Valid());
  for (const IMAGE_SECTION_HEADER& section : file.Sections()) {
    const DWORD writableData = IMAGE_SCN_MEM_WRITE | IMAGE_SCN_CNT_INITIALIZED_DATA;
    if ((section.Characteristics & writableData) != writableData) continue;
    const std::string name(reinterpret_cast<const char*>(section.Name),
                           strnlen(reinterpret_cast<const char*>(section.Name), 8));
    if (name == ".rsrc") continue;  // the resources, the payload among them: writable to the linker
    EXPECT_LT(section.SizeOfRawData, sizeof(InstallerState)) << name << " holds " << section.SizeOfRawData << " bytes";
  }
}

}  // namespace
