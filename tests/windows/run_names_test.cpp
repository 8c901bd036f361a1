// Names compared as the file system compares them: the portable code page fold
// against the system's own, and the run's name comparison and hash built on it.
#include "engine/run_names.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "shared/code_page_case.h"

namespace {

// The fold the packer stores names with and the engine compares them with gives what
// the system's own upper-casing gives, byte for byte, in the installer's code page.
TEST(RunNames, TheCodePageFoldAgreesWithTheSystemOnEveryByte) {
  if (GetACP() != 1251) GTEST_SKIP() << "the system's code page is " << GetACP();
  for (int byte = 1; byte < 256; ++byte) {
    char system[2] = {static_cast<char>(byte), '\0'};
    CharUpperBuffA(system, 1);
    EXPECT_EQ(static_cast<unsigned char>(UpperCp1251(static_cast<char>(byte))), static_cast<unsigned char>(system[0]))
        << std::hex << byte;
  }
}

TEST(RunNames, NamesThatDifferOnlyInCaseAreOneNameWithOneKey) {
  // Latin and Cyrillic (CP1251: "Папка", "ПАПКА", "Їжак", "ЇЖАК").
  const char* const pairs[][2] = {{"C:\\Program Files\\App.EXE", "c:\\program files\\app.exe"},
                                  {"\xCF\xE0\xEF\xEA\xE0", "\xCF\xC0\xCF\xCA\xC0"},
                                  {"\xBF\xE6\xE0\xEA", "\xAF\xC6\xC0\xCA"}};
  for (const auto& pair : pairs) {
    EXPECT_TRUE(SameName(pair[0], pair[1])) << pair[0];
    EXPECT_EQ(NameKey(pair[0]), NameKey(pair[1])) << pair[0];
  }
  EXPECT_FALSE(SameName("app.exe", "app.ex")) << "a prefix is another name";
  EXPECT_FALSE(SameName("app.ex", "app.exe"));
  EXPECT_FALSE(SameName("\xBF", "\xB3")) << "ї and і are two letters";
  EXPECT_NE(NameKey("app.exe"), NameKey("app.exf"));
}

}  // namespace
