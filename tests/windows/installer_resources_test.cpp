// The installer as built: the two payload archives and their checksums, the three page
// templates, the version information, the manifest, its imports and its size, read
// from the executable file itself.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "engine/archive_reader.h"
#include "engine/payload_archive.h"
#include "engine/payload_checksum.h"
#include "shared/raii.h"
#include "shared/system_libraries.h"
#include "shared/texts.h"
#include "velmorix_version.h"

namespace {

const WORD kRussian = MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT);

// Both installers the build makes: the one that ships and the one with the
// compressed payload.
constexpr const char* kInstallers[] = {"VELMORIX_INSTALLER", "VELMORIX_COMPRESSED_INSTALLER"};

// The built installer named by `variable`, mapped as a resource file only (nothing of
// it runs).
UniqueModule LoadInstaller(const char* variable = "VELMORIX_INSTALLER") {
  const char* path = std::getenv(variable);
  if (path == nullptr) {
    ADD_FAILURE() << variable << " is not set";
    return UniqueModule();
  }
  UniqueModule module(LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  if (!module) ADD_FAILURE() << "cannot load " << path << ", error " << GetLastError();
  return module;
}

// A resource's bytes in Russian (1049); empty when it is missing.
std::vector<unsigned char> RussianResource(HMODULE module, LPCSTR type, WORD id) {
  HRSRC info = FindResourceExA(module, type, MAKEINTRESOURCEA(id), kRussian);
  if (info == nullptr) return {};
  HGLOBAL loaded = LoadResource(module, info);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (bytes == nullptr) return {};
  const auto* begin = static_cast<const unsigned char*>(bytes);
  return std::vector<unsigned char>(begin, begin + SizeofResource(module, info));
}

// Each installer the build makes (kInstallers), mapped for the case.
class EveryInstaller : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    module_ = LoadInstaller(GetParam());
    ASSERT_TRUE(module_);
  }
  HMODULE Module() const { return module_.Get(); }

 private:
  UniqueModule module_;
};

INSTANTIATE_TEST_SUITE_P(InstallerResources, EveryInstaller, ::testing::ValuesIn(kInstallers));

TEST_P(EveryInstaller, PayloadArchivesAreValidAndCarryTheProgramAtTheRoot) {
  std::int32_t total = 0;
  const std::vector<unsigned char> programArchive = RussianResource(Module(), "Binary", 109);
  const std::vector<unsigned char> workArchive = RussianResource(Module(), "Binary", 110);
  const std::vector<unsigned char> sums = RussianResource(Module(), "Binary", 111);
  EXPECT_TRUE(PayloadChecksumsMatch(sums.data(), sums.size(), programArchive.data(), programArchive.size(),
                                    workArchive.data(), workArchive.size()))
      << "resource 111 of type Binary, language 1049: the CRC-32 of 109 and 110";
  for (WORD id : {WORD{109}, WORD{110}}) {
    const std::vector<unsigned char>& archive = id == 109 ? programArchive : workArchive;
    ASSERT_FALSE(archive.empty()) << "resource " << id << " of type Binary, language 1049";
    ArchiveView view;
    std::int32_t failed = -1;
    ASSERT_EQ(ValidateArchive(archive.data(), archive.size(), &view, &failed), ArchiveError::None)
        << "resource " << id << ", entry " << failed;
    EXPECT_EQ(view.compressed, GetParam() == kInstallers[1] || std::getenv("VELMORIX_DIST_COMPRESSED") != nullptr)
        << "resource " << id;
    total += view.count;
    if (id != 109) continue;
    bool program = false;
    bool uninstaller = false;
    for (std::int32_t i = 0; i < view.count; ++i) {
      const PayloadEntry entry = ReadPayloadEntry(view, i);
      if (std::strcmp(entry.relativeFolder, "\\") != 0) continue;
      program = program || std::strcmp(PayloadFileName(entry), "Velmorix.exe") == 0;
      uninstaller = uninstaller || std::strcmp(PayloadFileName(entry), "Uninstall.exe") == 0;
    }
    EXPECT_TRUE(program) << "Velmorix.exe at the root of the program archive";
    EXPECT_TRUE(uninstaller) << "Uninstall.exe at the root of the program archive";
  }
  EXPECT_LE(total, 1000) << "the installer records at most 1000 created files";
}

// Reads a DLGTEMPLATEEX with a bound check on every field.
class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}
  bool ok() const { return ok_; }
  WORD Word() {
    WORD value = 0;
    Take(&value, sizeof(value));
    return value;
  }
  DWORD Dword() {
    DWORD value = 0;
    Take(&value, sizeof(value));
    return value;
  }
  short Short() { return static_cast<short>(Word()); }
  BYTE Byte() {
    BYTE value = 0;
    Take(&value, sizeof(value));
    return value;
  }
  std::wstring String() {
    std::wstring text;
    for (WORD c = Word(); ok_ && c != 0; c = Word()) text.push_back(static_cast<wchar_t>(c));
    return text;
  }
  // A class or title: empty (0), an ordinal (0xFFFF then the number) or a string.
  std::wstring StringOrOrdinal() {
    const WORD first = Word();
    if (first == 0) return L"";
    if (first == 0xFFFF) return L"#" + std::to_wstring(Word());
    std::wstring text(1, static_cast<wchar_t>(first));
    return text + String();
  }
  void AlignDword() { at_ = (at_ + 3) & ~std::size_t{3}; }
  void Skip(std::size_t count) { at_ += count; }

 private:
  void Take(void* out, std::size_t count) {
    if (!ok_ || at_ + count > bytes_.size()) {
      ok_ = false;
      return;
    }
    std::memcpy(out, bytes_.data() + at_, count);
    at_ += count;
  }
  const std::vector<unsigned char>& bytes_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

// The predefined classes appear as ordinals; progress bars by name.
const wchar_t kButton[] = L"#128";
const wchar_t kEdit[] = L"#129";
const wchar_t kStatic[] = L"#130";
const wchar_t kProgress[] = L"msctls_progress32";

// Class names are looked up without regard to case (the resource compiler stores
// them in upper case): compared here in lower case.
std::wstring ClassKey(std::wstring stored) {
  for (wchar_t& c : stored)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  if (stored == L"button") return kButton;
  if (stored == L"edit") return kEdit;
  if (stored == L"static") return kStatic;
  return stored;
}

// The style a control must have: its kind (the bits under typeMask), bits that must
// be set and bits that must be clear. Every control is a visible child.
struct StyleSpec {
  DWORD typeMask;
  DWORD type;
  DWORD set;
  DWORD clear;
};
StyleSpec DefPush(DWORD set, DWORD clear) { return {BS_TYPEMASK, BS_DEFPUSHBUTTON, set, clear}; }
StyleSpec Push(DWORD set, DWORD clear) { return {BS_TYPEMASK, BS_PUSHBUTTON, set, clear}; }
StyleSpec Radio(DWORD set, DWORD clear) { return {BS_TYPEMASK, BS_AUTORADIOBUTTON, set, clear}; }
StyleSpec Check(DWORD set, DWORD clear) { return {BS_TYPEMASK, BS_AUTOCHECKBOX, set, clear}; }
StyleSpec GroupBox(DWORD set, DWORD clear) { return {BS_TYPEMASK, BS_GROUPBOX, set, clear}; }
StyleSpec Static(DWORD set, DWORD clear) { return {SS_TYPEMASK, SS_LEFT, set, clear}; }
StyleSpec Edit(DWORD set, DWORD clear) { return {ES_CENTER | ES_RIGHT, ES_LEFT, set, clear}; }
StyleSpec Progress(DWORD set, DWORD clear) { return {0, 0, set, clear}; }

struct ControlSpec {
  int id;
  const wchar_t* windowClass;
  const wchar_t* text;
  short position[4];
  StyleSpec style;
};

const ControlSpec kModeControls[] = {
    {1032, kButton, L"Далее >", {214, 206, 50, 14}, DefPush(WS_TABSTOP, 0)},
    {1031, kButton, L"Отмена", {269, 206, 50, 14}, Push(WS_TABSTOP, WS_GROUP)},
    {1003, kButton, L"Установить", {40, 85, 56, 10}, Radio(0, WS_TABSTOP | WS_GROUP)},
    {1004, kButton, L"Запустить", {40, 112, 51, 10}, Radio(0, WS_TABSTOP | WS_GROUP)},
    {1005, kButton, L"Восстановить", {39, 139, 63, 10}, Radio(0, WS_TABSTOP | WS_GROUP)},
    {1007, kButton, L"Удалить", {39, 168, 45, 10}, Radio(0, WS_TABSTOP | WS_GROUP)},
    {1006, kStatic, L"Вас приветствует установщик программы Velmorix", {15, 5, 286, 8}, Static(WS_GROUP, 0)},
    {-1, kStatic, L"Загрузка, установка и обновление продуктов компании Tarkweller, слежение за версиями", {21, 16, 292, 18}, Static(0, 0)},
    {-1, kStatic, L"Программа 'Тривеллон' будет установлена на этот компьютер", {125, 85, 182, 24}, Static(0, 0)},
    {-1, kStatic, L"'Тривеллон' будет запущен без установки", {125, 112, 182, 24}, Static(0, 0)},
    {-1, kStatic, L"'Тривеллон' будет переустановлен на этом компьютере", {125, 139, 182, 24}, Static(0, 0)},
    {-1, kStatic, L"'Тривеллон' будет удален с этого компьютера", {125, 168, 182, 24}, Static(0, 0)},
    {1011, kButton, L"", {5, 33, 330, 167}, GroupBox(0, 0)},
    {-1, kStatic, L"Выберите, если хотите работать с программой позднее", {22, 49, 292, 18}, Static(0, 0)},
};
const ControlSpec kSettingsControls[] = {
    {1030, kButton, L"Далее >", {214, 206, 50, 14}, DefPush(WS_TABSTOP, 0)},
    {1029, kButton, L"Отмена", {269, 206, 50, 14}, Push(WS_TABSTOP, 0)},
    {1017, kStatic, L"Настройка устанавливаемого программного обеспечения", {21, 16, 292, 18}, Static(0, 0)},
    {1018, kButton, L"", {5, 33, 330, 167}, GroupBox(0, 0)},
    {1016, kStatic, L"Папка для установки", {22, 49, 292, 18}, Static(0, 0)},
    {1014, kButton, L"...", {297, 67, 21, 14}, Push(WS_TABSTOP, 0)},
    {1015, kEdit, L"", {21, 68, 269, 14}, Edit(WS_TABSTOP | ES_AUTOHSCROLL | WS_BORDER, 0)},
    {1019, kButton, L"Создать ярлык на рабочем столе", {25, 142, 129, 10}, Check(WS_TABSTOP, 0)},
    {1020, kButton, L"Создать ярлык в панели быстрого запуска", {25, 165, 163, 10}, Check(WS_TABSTOP, 0)},
    {3, kButton, L"< Назад", {158, 206, 50, 14}, Push(WS_TABSTOP, 0)},
    {1021, kStatic, L"Рабочая папка", {22, 92, 292, 18}, Static(0, 0)},
    {1022, kButton, L"...", {297, 110, 21, 14}, Push(WS_TABSTOP, 0)},
    {1023, kEdit, L"", {21, 111, 269, 14}, Edit(WS_TABSTOP | ES_AUTOHSCROLL | WS_BORDER, 0)},
};
const ControlSpec kProgressControls[] = {
    {1028, kButton, L"Отмена", {269, 206, 50, 14}, Push(WS_TABSTOP, 0)},  // no default button
    {1023, kStatic, L"Состояние установки", {21, 16, 292, 18}, Static(0, 0)},
    {1024, kStatic, L"Установочные файлы:", {22, 49, 292, 10}, Static(0, 0)},
    {1026, kButton, L"", {5, 33, 330, 167}, GroupBox(0, 0)},
    {1025, kStatic, L">", {21, 64, 299, 49}, Static(SS_ENDELLIPSIS, 0)},
    {1021, kProgress, L"", {11, 171, 318, 21}, Progress(PBS_SMOOTH | WS_BORDER, 0)},
    {1022, kButton, L"Запустить 'Тривеллон' после установки", {19, 121, 306, 10}, Check(WS_TABSTOP, 0)},
    {1027, kProgress, L"", {11, 151, 318, 14}, Progress(PBS_SMOOTH | WS_BORDER, 0)},
};

struct DialogSpec {
  WORD id;
  DWORD style;
  short size[2];
  const wchar_t* font;
  BYTE charset;
  const ControlSpec* controls;
  std::size_t controlCount;
};

const DialogSpec kDialogs[] = {
    {102, 0x80C00940, {338, 230}, L"Microsoft Sans Serif", 204, kModeControls, std::size(kModeControls)},
    {106, 0x80C00948, {338, 229}, L"MS Shell Dlg", 1, kSettingsControls, std::size(kSettingsControls)},
    {107, 0x80C00948, {338, 229}, L"MS Shell Dlg", 1, kProgressControls, std::size(kProgressControls)},
};

void PrintTo(const DialogSpec& dialog, std::ostream* out) { *out << "dialog " << dialog.id; }

class DialogTemplate : public ::testing::TestWithParam<DialogSpec> {};

TEST_P(DialogTemplate, MatchesItsTable) {
  const DialogSpec& want = GetParam();
  UniqueModule module = LoadInstaller();
  ASSERT_TRUE(module);
  const std::vector<unsigned char> bytes = RussianResource(module.Get(), MAKEINTRESOURCEA(5), want.id);  // RT_DIALOG
  ASSERT_FALSE(bytes.empty()) << "dialog " << want.id << " in language 1049";
  TemplateReader in(bytes);
  EXPECT_EQ(in.Word(), 1) << "extended template version";
  EXPECT_EQ(in.Word(), 0xFFFF) << "extended template signature";
  in.Dword();  // help id
  EXPECT_EQ(in.Dword(), DWORD{WS_EX_APPWINDOW});
  EXPECT_EQ(in.Dword(), want.style);
  const WORD count = in.Word();
  in.Short();  // x and y: the pages are centred
  in.Short();
  EXPECT_EQ(in.Short(), want.size[0]);
  EXPECT_EQ(in.Short(), want.size[1]);
  EXPECT_EQ(in.StringOrOrdinal(), L"") << "menu";
  EXPECT_EQ(in.StringOrOrdinal(), L"") << "window class";
  EXPECT_EQ(in.String(), L"Установка приложения Velmorix");
  EXPECT_EQ(in.Word(), 8) << "point size";
  EXPECT_EQ(in.Word(), 400) << "weight";
  EXPECT_EQ(in.Byte(), 0) << "italic";
  EXPECT_EQ(in.Byte(), want.charset);
  EXPECT_EQ(in.String(), want.font);
  ASSERT_TRUE(in.ok());
  ASSERT_EQ(count, want.controlCount);

  for (std::size_t i = 0; i < want.controlCount; ++i) {
    const ControlSpec& control = want.controls[i];
    SCOPED_TRACE("control " + std::to_string(i) + ", id " + std::to_string(control.id));
    in.AlignDword();
    in.Dword();  // help id
    EXPECT_EQ(in.Dword(), 0u) << "extended style";
    const DWORD style = in.Dword();
    short position[4];
    for (short& p : position) p = in.Short();
    const int id = static_cast<int>(in.Dword());
    const std::wstring windowClass = ClassKey(in.StringOrOrdinal());
    const std::wstring text = in.StringOrOrdinal();
    in.Skip(in.Word());  // creation data
    ASSERT_TRUE(in.ok()) << "template ends early";
    EXPECT_EQ(id, control.id);
    EXPECT_EQ(windowClass, control.windowClass);
    EXPECT_EQ(text, control.text);
    EXPECT_EQ(std::vector<short>(position, position + 4), std::vector<short>(control.position, control.position + 4));
    EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE), DWORD{WS_CHILD | WS_VISIBLE});
    EXPECT_EQ(style & control.style.typeMask, control.style.type) << std::hex << style;
    EXPECT_EQ(style & control.style.set, control.style.set) << std::hex << style;
    EXPECT_EQ(style & control.style.clear, 0u) << std::hex << style;
  }
}

// A function of version.dll, loaded from the system folder.
template <typename Function>
Function VersionFunction(HMODULE version, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(version, name)));
}

// The DLLs an executable imports when it starts, in lower case, and whether it has a
// delay-import directory. The file is mapped as an image, nothing of it run, so its
// tables are at their addresses.
struct ImportTable {
  std::vector<std::string> dlls;
  bool delayDirectory = false;
};

ImportTable ImportsOf(const char* path) {
  ImportTable table;
  UniqueModule image(LoadLibraryExA(path, nullptr, DONT_RESOLVE_DLL_REFERENCES));
  if (!image) {
    ADD_FAILURE() << "cannot map " << path << ", error " << GetLastError();
    return table;
  }
  const auto* base = reinterpret_cast<const BYTE*>(image.Get());
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY* directories = headers->OptionalHeader.DataDirectory;
  table.delayDirectory = directories[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].VirtualAddress != 0;
  for (auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
           base + directories[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
       import->Name != 0; ++import) {
    std::string name = reinterpret_cast<const char*>(base + import->Name);
    for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    table.dlls.push_back(name);
  }
  return table;
}

// Libraries Windows lists among its known DLLs are always taken from the system
// folder, never from the folder the installer was started from (comctl32 is not one).
TEST(InstallerResources, ImportsOnlyKnownSystemDlls) {
  const ImportTable table = ImportsOf(std::getenv("VELMORIX_INSTALLER"));
  EXPECT_FALSE(table.delayDirectory) << "delay-loaded libraries";
  const std::vector<std::string> known = {"kernel32.dll", "user32.dll",   "gdi32.dll",   "advapi32.dll",
                                          "shell32.dll",  "ole32.dll",    "oleaut32.dll", "shlwapi.dll",
                                          "msvcrt.dll",   "comdlg32.dll"};
  for (const std::string& name : table.dlls)
    EXPECT_NE(std::find(known.begin(), known.end(), name), known.end()) << "imports " << name;
  EXPECT_FALSE(table.dlls.empty());
}

// Uninstall.exe starts with the kernel, security and C libraries alone: the window,
// shell and COM libraries are bound when first called, so the process that only
// copies the uninstaller and waits for the copy never loads them.
TEST(InstallerResources, UninstallerStartsWithoutTheWindowShellAndComLibraries) {
  const char* build = std::getenv("VELMORIX_BUILD_DIR");
  ASSERT_NE(build, nullptr);
  const ImportTable table = ImportsOf((std::string(build) + "\\uninstaller\\Uninstall.exe").c_str());
  std::vector<std::string> dlls = table.dlls;
  std::sort(dlls.begin(), dlls.end());
  EXPECT_EQ(dlls, (std::vector<std::string>{"advapi32.dll", "kernel32.dll", "msvcrt.dll"}));
}

// What the installer costs beyond what it carries: the file without its payload
// resources stays small enough for a download page (an NSIS stub is 60-100 KB). This
// also keeps the shared record's 260 KB list of created files out of the file's
// initialised data.
TEST_P(EveryInstaller, ExecutableAroundThePayloadStaysUnder400KB) {
  std::size_t payload = 0;
  for (WORD id : {WORD{109}, WORD{110}, WORD{111}}) {
    const std::size_t size = RussianResource(Module(), "Binary", id).size();
    ASSERT_GT(size, 0u) << "resource " << id;
    payload += size;
  }
  WIN32_FILE_ATTRIBUTE_DATA file{};
  ASSERT_TRUE(GetFileAttributesExA(std::getenv(GetParam()), GetFileExInfoStandard, &file));
  ASSERT_EQ(file.nFileSizeHigh, 0u);
  ASSERT_GT(file.nFileSizeLow, payload);
  EXPECT_LE(file.nFileSizeLow - payload, 400u * 1024u) << file.nFileSizeLow << " bytes around " << payload;
}

TEST(InstallerResources, VersionInformationReadsBackInRussianWithCodePage1251) {
  const char* path = std::getenv("VELMORIX_INSTALLER");
  ASSERT_NE(path, nullptr);
  char library[MAX_PATH];
  ASSERT_TRUE(SystemLibraryPath("version.dll", library, sizeof(library)));
  UniqueModule version(LoadLibraryA(library));
  ASSERT_TRUE(version);
  const auto getSize = VersionFunction<DWORD(WINAPI*)(LPCSTR, LPDWORD)>(version.Get(), "GetFileVersionInfoSizeA");
  const auto getInfo =
      VersionFunction<BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID)>(version.Get(), "GetFileVersionInfoA");
  const auto query = VersionFunction<BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT)>(version.Get(), "VerQueryValueA");
  ASSERT_TRUE(getSize && getInfo && query);
  DWORD ignored = 0;
  std::vector<unsigned char> info(getSize(path, &ignored));
  ASSERT_FALSE(info.empty()) << "no version resource";
  ASSERT_TRUE(getInfo(path, 0, static_cast<DWORD>(info.size()), info.data()));

  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(query(info.data(), "\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u);
  const WORD* translation = static_cast<const WORD*>(value);
  EXPECT_EQ(translation[0], 0x0419) << "Russian";
  EXPECT_EQ(translation[1], 1251) << "code page 1251";

  ASSERT_TRUE(query(info.data(), "\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  const DWORD high = MAKELONG(VELMORIX_VERSION_MINOR, VELMORIX_VERSION_MAJOR);
  const DWORD low = MAKELONG(VELMORIX_VERSION_TWEAK, VELMORIX_VERSION_PATCH);
  EXPECT_EQ(fixed->dwFileVersionMS, high);
  EXPECT_EQ(fixed->dwFileVersionLS, low);
  EXPECT_EQ(fixed->dwProductVersionMS, high);
  EXPECT_EQ(fixed->dwProductVersionLS, low);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  // The numbers and the text are one version, the one the uninstall entry shows.
  const std::string text = std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
                           std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
  EXPECT_EQ(text, texts::kVersion);

  const struct {
    const char* name;
    std::string text;
  } strings[] = {
      {"CompanyName", "Tarkweller"},
      {"ProductName", "Velmorix"},
      {"FileDescription", "Установщик программы 'Тривеллон'"},
      {"FileVersion", text},
      {"ProductVersion", text},
      {"LegalCopyright", "© 2026 Tarkweller"},
      {"OriginalFilename", "VelmorixSetup.exe"},
  };
  for (const auto& want : strings) {
    const std::string key = std::string("\\StringFileInfo\\041904E3\\") + want.name;
    char* found = nullptr;
    ASSERT_TRUE(query(info.data(), key.c_str(), reinterpret_cast<void**>(&found), &length)) << key;
    EXPECT_EQ(std::string(found, strnlen(found, length)), want.text) << key;
  }
}

// dpiAware counts only in the Windows settings namespace of 2005, given on the element
// itself or on windowsSettings around it; else Windows stretches the pages.
TEST(InstallerResources, ManifestAsksForAdministratorAndDeclaresSystemDpiAwareness) {
  UniqueModule module = LoadInstaller();
  ASSERT_TRUE(module);
  const std::vector<unsigned char> bytes = RussianResource(module.Get(), MAKEINTRESOURCEA(24), 1);  // RT_MANIFEST
  ASSERT_FALSE(bytes.empty()) << "manifest 1 in language 1049";
  const std::string manifest(bytes.begin(), bytes.end());
  EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"),
            std::string::npos);
  EXPECT_NE(manifest.find(std::string("version=\"") + VELMORIX_VERSION_TEXT + "\""), std::string::npos);

  const std::size_t settings = manifest.find("<windowsSettings");
  const std::size_t settingsEnd = manifest.find("</windowsSettings>");
  ASSERT_NE(settings, std::string::npos);
  ASSERT_NE(settingsEnd, std::string::npos);
  const std::size_t application = manifest.rfind("<application", settings);
  ASSERT_NE(application, std::string::npos);
  const std::string asmV3 = "<application xmlns=\"urn:schemas-microsoft-com:asm.v3\">";
  EXPECT_EQ(manifest.compare(application, asmV3.size(), asmV3), 0);
  const std::string block = manifest.substr(settings, settingsEnd - settings);
  const std::size_t element = block.find("<dpiAware");
  ASSERT_NE(element, std::string::npos);
  const std::size_t close = block.find('>', element);
  ASSERT_NE(close, std::string::npos);
  EXPECT_EQ(block.compare(close + 1, 15, "true</dpiAware>"), 0) << block;
  const char kWindowsSettings2005[] = "xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\"";
  const std::string own = block.substr(element, close - element);
  const std::string enclosing = block.substr(0, block.find('>'));
  EXPECT_TRUE(own.find(kWindowsSettings2005) != std::string::npos ||
              (own.find("xmlns") == std::string::npos && enclosing.find(kWindowsSettings2005) != std::string::npos))
      << block;
}

INSTANTIATE_TEST_SUITE_P(Pages, DialogTemplate, ::testing::ValuesIn(kDialogs),
                         [](const ::testing::TestParamInfo<DialogSpec>& param) {
                           return "Template" + std::to_string(param.param.id);
                         });

}  // namespace
