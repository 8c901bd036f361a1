#include "shared/command_text.h"
#include "shared/install_date.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CommandText, ProgramCommandIsQuotedAndNeverCut) {
  char out[260];
  ASSERT_TRUE(BuildProgramCommand(out, sizeof(out), "C:\\Program Files (x86)\\Tarkweller\\Velmorix", "\\Uninstall.exe"));
  EXPECT_STREQ(out, "\"C:\\Program Files (x86)\\Tarkweller\\Velmorix\\Uninstall.exe\"");

  // 257 characters of path plus two quotes is 259: fits. One more does not, and nothing is left.
  const std::string folder(257 - 13, 'f');
  ASSERT_TRUE(BuildProgramCommand(out, sizeof(out), folder.c_str(), "\\Velmorix.exe"));
  EXPECT_EQ(std::string(out).size(), 259u);
  EXPECT_FALSE(BuildProgramCommand(out, sizeof(out), (folder + "g").c_str(), "\\Velmorix.exe"));
  EXPECT_STREQ(out, "");
}

TEST(CommandText, OpenCommandQuotesProgramAndArgument) {
  char out[260];
  ASSERT_TRUE(BuildOpenCommand(out, sizeof(out), "D:\\Apps\\Velmorix\\Velmorix.exe"));
  EXPECT_STREQ(out, "\"D:\\Apps\\Velmorix\\Velmorix.exe\" \"%1\"");
  ASSERT_TRUE(BuildIconLocation(out, sizeof(out), "D:\\Apps\\Velmorix\\Velmorix.exe"));
  EXPECT_STREQ(out, "D:\\Apps\\Velmorix\\Velmorix.exe,0");
  EXPECT_FALSE(BuildOpenCommand(out, sizeof(out), std::string(253, 'p').c_str()));
  EXPECT_TRUE(BuildOpenCommand(out, sizeof(out), std::string(252, 'p').c_str()));
  EXPECT_FALSE(BuildIconLocation(out, sizeof(out), std::string(258, 'p').c_str()));
  EXPECT_TRUE(BuildIconLocation(out, sizeof(out), std::string(257, 'p').c_str()));
  EXPECT_FALSE(JoinPathWhole(out, sizeof(out), std::string(250, 'p').c_str(), "\\Velmorix.exe"));
  EXPECT_TRUE(JoinPathWhole(out, sizeof(out), std::string(246, 'p').c_str(), "\\Velmorix.exe"));
}

TEST(InstallDate, EightDigitsWithLeadingZeros) {
  char text[kInstallDateSize];
  ASSERT_TRUE(FormatInstallDate(2016, 1, 5, text));
  EXPECT_STREQ(text, "20160105");
  ASSERT_TRUE(FormatInstallDate(2016, 11, 25, text));
  EXPECT_STREQ(text, "20161125");
  ASSERT_TRUE(FormatInstallDate(987, 12, 31, text));
  EXPECT_STREQ(text, "09871231");
  EXPECT_FALSE(FormatInstallDate(10000, 1, 1, text));
  EXPECT_STREQ(text, "");
  EXPECT_FALSE(FormatInstallDate(2026, 13, 1, text));
  EXPECT_FALSE(FormatInstallDate(2026, 0, 1, text));
  EXPECT_FALSE(FormatInstallDate(2026, 1, 0, text));
}

}  // namespace
