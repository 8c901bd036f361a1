#include "shared/code_page_case.h"

#include <gtest/gtest.h>

#include <string>

#include "packer/archive_writer.h"

namespace {

// Every letter pair of code page 1251, taken from Unicode: each small letter folds to
// its capital, and no other byte changes.
TEST(CodePageCase, EveryLetterOfTheCodePageFoldsToItsCapitalAndNothingElseChanges) {
  std::string small;
  std::string capital;
  ASSERT_TRUE(Utf8ToCp1251(u8"abcdefghijklmnopqrstuvwxyzабвгдеёжзийклмнопрстуфхцчшщъыьэюяђѓєѕіїјљњћќўџґ", &small));
  ASSERT_TRUE(Utf8ToCp1251(u8"ABCDEFGHIJKLMNOPQRSTUVWXYZАБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯЂЃЄЅІЇЈЉЊЋЌЎЏҐ", &capital));
  ASSERT_EQ(small.size(), capital.size());
  std::string folds(256, '\0');
  for (int byte = 0; byte < 256; ++byte) folds[byte] = static_cast<char>(byte);
  for (std::size_t i = 0; i < small.size(); ++i) folds[static_cast<unsigned char>(small[i])] = capital[i];
  for (int byte = 0; byte < 256; ++byte) {
    EXPECT_EQ(static_cast<unsigned char>(UpperCp1251(static_cast<char>(byte))),
              static_cast<unsigned char>(folds[byte]))
        << std::hex << byte;
  }
  EXPECT_TRUE(SameTextCp1251(small.data(), capital.data(), small.size()));
  EXPECT_FALSE(SameTextCp1251("\xBF", "\xB3", 1)) << "ї and і are two letters";
}

}  // namespace
