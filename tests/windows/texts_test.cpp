// The fixed texts as the ANSI calls receive them: code page 1251 bytes, whatever the
// encoding of the sources.
#include "shared/texts.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <map>
#include <regex>
#include <string>

#include "engine_test_support.h"
#include "shared/raii.h"

namespace {

std::string ReadSource(const char* relativePath) {
  char root[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA("VELMORIX_SOURCE_DIR", root, sizeof(root));
  if (length == 0 || length >= sizeof(root)) return std::string();
  return enginetest::ReadWholeFile(std::string(root) + "\\" + relativePath);
}

// The texts as texts.cpp spells them, in UTF-8: each `const char kName[] = "..." "...";`
// with its literals joined and their escapes read. *others counts the definitions
// that are no literal (a macro of the build).
std::map<std::string, std::string> SourceTexts(const std::string& source, int* others) {
  std::map<std::string, std::string> found;
  *others = 0;
  const std::regex head(R"(const char (k\w+)\[\] =)");
  for (std::sregex_iterator it(source.begin(), source.end(), head), end; it != end; ++it) {
    std::size_t i = static_cast<std::size_t>(it->position() + it->length());
    std::string text;
    bool literal = false;
    for (; i < source.size() && source[i] != ';'; ++i) {
      if (std::isspace(static_cast<unsigned char>(source[i]))) continue;
      if (source[i] != '"') {
        literal = false;  // a macro, not a plain literal
        break;
      }
      literal = true;
      for (++i; i < source.size() && source[i] != '"'; ++i) {
        if (source[i] != '\\' || i + 1 == source.size()) {
          text += source[i];
          continue;
        }
        const char escaped = source[++i];
        if (escaped != 'n' && escaped != '"' && escaped != '\\') ADD_FAILURE() << "escape not read: \\" << escaped;
        text += escaped == 'n' ? '\n' : escaped;
      }
    }
    if (literal) {
      found[(*it)[1]] = text;
    } else {
      ++*others;
    }
  }
  return found;
}

// The initialised data of the installer that ships, as its sections lie in the image.
std::string InstallerData() {
  const UniqueModule image(LoadLibraryExA(std::getenv("VELMORIX_INSTALLER"), nullptr, DONT_RESOLVE_DLL_REFERENCES));
  if (!image) return std::string();
  const auto* base = reinterpret_cast<const BYTE*>(image.Get());
  const auto* headers =
      reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(headers);
  std::string data;
  for (WORD i = 0; i < headers->FileHeader.NumberOfSections; ++i, ++section) {
    if (!(section->Characteristics & IMAGE_SCN_CNT_INITIALIZED_DATA)) continue;
    data.append(reinterpret_cast<const char*>(base + section->VirtualAddress), section->Misc.VirtualSize);
    data.push_back('\0');
  }
  return data;
}

// Every text of texts.cpp is in the installer as its code page 1251 bytes, whole and
// terminated: a build that stored another code page, a text left in UTF-8 or a text
// cut short is not found. The sources are read, not typed again here.
TEST(InstallerTexts, EveryTextOfTheSourcesIsInTheInstallerInCodePage1251) {
  int others = 0;
  const std::map<std::string, std::string> texts = SourceTexts(ReadSource("source\\shared\\texts.cpp"), &others);
  const std::string declarations = ReadSource("source\\shared\\texts.h");
  std::size_t declared = 0;
  for (std::size_t at = declarations.find("extern const char k"); at != std::string::npos;
       at = declarations.find("extern const char k", at + 1))
    ++declared;
  ASSERT_GT(texts.size(), 40u);
  EXPECT_EQ(texts.size() + static_cast<std::size_t>(others), declared) << "a definition the reading missed";
  EXPECT_EQ(others, 1) << "only the version comes from the build";

  const std::string data = InstallerData();
  ASSERT_FALSE(data.empty());
  for (const auto& [name, utf8] : texts) {
    wchar_t wide[4096];
    const int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.c_str(), -1, wide, 4096);
    ASSERT_GT(count, 0) << name;
    char bytes[4096];
    BOOL substituted = FALSE;
    const int size = WideCharToMultiByte(1251, WC_NO_BEST_FIT_CHARS, wide, -1, bytes, sizeof(bytes), nullptr,
                                         &substituted);
    ASSERT_GT(size, 0) << name;
    EXPECT_FALSE(substituted) << name << ": a character code page 1251 lacks";
    // With its terminator, so that a text cut short is not taken for it.
    EXPECT_NE(data.find(std::string(bytes, static_cast<std::size_t>(size))), std::string::npos) << name;
  }
}

// The sources are UTF-8; the build must turn the texts into code page 1251 bytes,
// which is what the ANSI calls under a Russian system code page expect.
TEST(InstallerTexts, RussianTextsArriveAsTheseBytes) {
  EXPECT_EQ(GetACP(), 1251u) << "the test environment must run with a Russian locale";
  EXPECT_STREQ(texts::kProductTitle, "\xD2\xF0\xE8\xE2\xE5\xEB\xEB\xEE\xED");
  EXPECT_STREQ(texts::kWindowTitle,
               "\xD3\xF1\xF2\xE0\xED\xEE\xE2\xEA\xE0 \xEF\xF0\xE8\xEB\xEE\xE6\xE5\xED\xE8\xFF Velmorix");
  EXPECT_STREQ(texts::kResourceMissing,
               "\xCE\xF2\xF1\xF2\xF3\xF2\xF1\xF2\xE2\xF3\xE5\xF2 \xF4\xE0\xE9\xEB \xF0\xE5\xF1\xF3\xF0\xF1\xEE\xE2, "
               "\xE7\xE0\xE3\xF0\xF3\xE7\xE8\xF2\xE5 \xF3\xF1\xF2\xE0\xED\xEE\xE2\xF9\xE8\xEA \xE7\xE0\xED\xEE\xE3\xEE "
               "\xE8\xEB\xE8 \xEE\xE1\xF0\xE0\xF2\xE8\xF2\xE5\xF1\xFC \xE2\xEE\xEB\xEA\xEE\xEC");
  // Two spaces before the preposition.
  EXPECT_STREQ(texts::kUninstallValuesFailed,
               "\xCD\xE5\xE2\xEE\xE7\xEC\xEE\xE6\xED\xEE \xF1\xEE\xE7\xE4\xE0\xF2\xFC \xE7\xE0\xEF\xE8\xF1\xE8  \xE2 "
               "\xF0\xE5\xE5\xF1\xF2\xF0\xE5 \xE4\xEB\xFF \xEA\xEE\xF0\xF0\xE5\xEA\xF2\xED\xEE\xE9 \xF0\xE0\xE1\xEE\xF2\xFB "
               "\xE4\xE5\xE8\xED\xF1\xF2\xE0\xEB\xEB\xFF\xF2\xEE\xF0\xE0");
  EXPECT_STREQ(texts::kCancelQuestion,
               "\xC2\xFB \xE4\xE5\xE9\xF1\xF2\xE2\xE8\xF2\xE5\xEB\xFC\xED\xEE \xF5\xEE\xF2\xE8\xF2\xE5 "
               "\xEE\xF2\xEC\xE5\xED\xE8\xF2\xFC \xF0\xE0\xF1\xEF\xE0\xEA\xEE\xE2\xEA\xF3?");
}

}  // namespace
