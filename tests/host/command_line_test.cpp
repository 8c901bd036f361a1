#include "shared/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The arguments after the program's name, as CommandLineToArgvW hands them over.
CommandLineOptions Parse(const std::vector<const char*>& arguments) {
  return ParseCommandLine(arguments.data(), static_cast<int>(arguments.size()));
}

TEST(CommandLine, ValidFormsAndTheirValues) {
  CommandLineOptions options = Parse({});
  EXPECT_EQ(options.mode, StartMode::Wizard);
  EXPECT_STREQ(options.logPath, "");

  options = Parse({"/LOG=setup.log"});  // a log beside the wizard, relative to the current folder
  EXPECT_EQ(options.mode, StartMode::Wizard);
  EXPECT_STREQ(options.logPath, "setup.log");

  options = Parse({"/?"});
  EXPECT_EQ(options.mode, StartMode::Usage);

  options = Parse({"/S"});
  EXPECT_EQ(options.mode, StartMode::Unattended);
  EXPECT_STREQ(options.installDir, "");
  EXPECT_STREQ(options.workDir, "");
  EXPECT_FALSE(options.noDesktopShortcut);
  EXPECT_FALSE(options.noStartMenuShortcut);

  // Switch names in any case, in any order; values keep their case.
  options = Parse({"/nostartmenu", "/WorkDir=\\\\server\\share", "/s", "/d=D:/Apps/Velmorix/", "/NoDesktop",
                   "/log=C:\\Logs\\Setup.LOG"});
  EXPECT_EQ(options.mode, StartMode::Unattended) << static_cast<int>(options.error);
  EXPECT_STREQ(options.installDir, "D:/Apps/Velmorix/");
  EXPECT_STREQ(options.workDir, "\\\\server\\share");
  EXPECT_STREQ(options.logPath, "C:\\Logs\\Setup.LOG");
  EXPECT_TRUE(options.noDesktopShortcut);
  EXPECT_TRUE(options.noStartMenuShortcut);

  // A folder of 259 characters fits its buffer whole.
  const std::string longest = "C:\\" + std::string(256, 'a');
  options = Parse({"/S", ("/D=" + longest).c_str()});
  EXPECT_EQ(options.mode, StartMode::Unattended);
  EXPECT_EQ(std::string(options.installDir), longest);
}

// CommandLineToArgvW ends an argument at a space outside quotation marks and drops the
// marks themselves, wherever they stand in the argument.
TEST(CommandLine, FolderWithSpacesNeedsQuotationMarks) {
  // "/D=C:\My Apps\Velmorix" and /D="C:\My Apps\Velmorix" both arrive as one argument.
  CommandLineOptions options = Parse({"/S", "/D=C:\\My Apps\\Velmorix"});
  EXPECT_EQ(options.mode, StartMode::Unattended);
  EXPECT_STREQ(options.installDir, "C:\\My Apps\\Velmorix");

  // Without them the tail becomes an argument of its own, and the run is refused.
  options = Parse({"/S", "/D=C:\\My", "Apps\\Velmorix"});
  EXPECT_EQ(options.mode, StartMode::Invalid);
  EXPECT_EQ(options.error, CommandLineError::UnknownSwitch);
  EXPECT_EQ(options.errorArgument, 2);
  EXPECT_TRUE(options.unattended) << "no window for an invalid unattended command line";
}

TEST(CommandLine, EachInvalidFormIsRefusedWithItsReason) {
  struct Case {
    std::vector<const char*> arguments;
    CommandLineError error;
    int errorArgument;
  };
  const std::string tooLong = "/D=C:\\" + std::string(257, 'a');  // 260 characters of folder
  const Case cases[] = {
      {{"/S", "/X"}, CommandLineError::UnknownSwitch, 1},
      {{"/S", "C:\\Apps"}, CommandLineError::UnknownSwitch, 1},
      {{"/S=1"}, CommandLineError::UnknownSwitch, 0},
      {{"/S", "/NODESKTOP=yes"}, CommandLineError::UnknownSwitch, 1},
      {{"/S", "/D"}, CommandLineError::MissingValue, 1},
      {{"/S", "/D="}, CommandLineError::MissingValue, 1},
      {{"/S", "/LOG="}, CommandLineError::MissingValue, 1},
      {{"/S", "/D=Apps\\Velmorix"}, CommandLineError::RelativeFolder, 1},
      {{"/S", "/D=C:Apps"}, CommandLineError::RelativeFolder, 1},
      {{"/S", "/WORKDIR=\\Apps"}, CommandLineError::RelativeFolder, 1},
      {{"/S", "/D=\\\\server"}, CommandLineError::RelativeFolder, 1},
      {{"/S", tooLong.c_str()}, CommandLineError::UnfitPath, 1},
      {{"/S", "/D=C:\\"}, CommandLineError::UnfitPath, 1},
      {{"/S", "/D=C:\\Apps|x"}, CommandLineError::UnfitPath, 1},
      {{"/S", "/D=C:\\Apps\\a:b"}, CommandLineError::UnfitPath, 1},
      {{"/S", "/D=\\\\?\\C:\\Apps"}, CommandLineError::UnfitPath, 1},
      {{"/S", "/LOG=C:\\Logs\\"}, CommandLineError::UnfitPath, 1},
      {{"/S", "/D=C:\\A", "/d=C:\\B"}, CommandLineError::RepeatedSwitch, 2},
      {{"/S", "/s"}, CommandLineError::RepeatedSwitch, 1},
      {{"/S", nullptr}, CommandLineError::Unrepresentable, 1},
      {{"/?", "/S"}, CommandLineError::UsageNotAlone, -1},
      {{"/D=C:\\Apps"}, CommandLineError::NeedsUnattended, -1},
      {{"/NOSTARTMENU", "/LOG=C:\\setup.log"}, CommandLineError::NeedsUnattended, -1},
      // The first fault is the one named.
      {{"/Y", "/S", "/D=relative"}, CommandLineError::UnknownSwitch, 0},
  };
  for (const Case& c : cases) {
    const CommandLineOptions options = Parse(c.arguments);
    const std::string shown = c.arguments.size() > 1 && c.arguments[1] ? c.arguments[1] : c.arguments[0];
    EXPECT_EQ(options.mode, StartMode::Invalid) << shown;
    EXPECT_EQ(options.error, c.error) << shown;
    EXPECT_EQ(options.errorArgument, c.errorArgument) << shown;
  }
  // Whether a window may say so: only when /S is absent.
  EXPECT_TRUE(Parse({"/X", "/S"}).unattended);
  EXPECT_FALSE(Parse({"/X"}).unattended);
  EXPECT_FALSE(Parse({"/S=1"}).unattended);
}

}  // namespace
