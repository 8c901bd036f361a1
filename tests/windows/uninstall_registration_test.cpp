#include "integration/uninstall_registration.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "engine_test_support.h"
#include "support/registry.h"
#include "shared/platform.h"
#include "shared/raii.h"
#include "shared/texts.h"

namespace {

const char kUninstallParent[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kInstallDir[] = "C:\\Program Files (x86)\\Tarkweller\\Velmorix";

// Today in UTC as YYYYMMDD, worked out independently of the code under test.
std::string UtcDate() {
  SYSTEMTIME now{};
  GetSystemTime(&now);
  char text[16];
  std::snprintf(text, sizeof(text), "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
  return text;
}

class UninstallRegistrationTest : public testing::Test {
 protected:
  void SetUp() override {
    RemoveEntry();
    CopyPath(installDir_, kInstallDir);
  }
  void TearDown() override { RemoveEntry(); }

  static void RemoveEntry() {
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kUninstallParent, "Velmorix", KEY_WOW64_64KEY);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kUninstallParent, "Velmorix", KEY_WOW64_32KEY);
  }
  static StoredValue Read(const char* name) {
    return ReadStoredValue(HKEY_LOCAL_MACHINE, texts::kUninstallKeyPath, name, KEY_WOW64_64KEY);
  }
  static void Seed(const char* name, const char* text) {
    ASSERT_TRUE(WriteStringValue(HKEY_LOCAL_MACHINE, texts::kUninstallKeyPath, name, text, KEY_WOW64_64KEY));
  }
  static void ExpectText(const char* name, const std::string& text) {
    const StoredValue value = Read(name);
    EXPECT_TRUE(value.present) << name;
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << name;
    EXPECT_EQ(value.bytes, Terminated(text)) << name;
  }

  // The entry of the fixture's choices, in the 64-bit view.
  bool Register() {
    const UninstallEntry entry{true, installDir_, makeDesktop_ ? desktopPath_ : nullptr,
                               makeStartMenu_ ? startMenuPath_ : nullptr, 0};
    return RegisterUninstallEntry(entry, progress_);
  }

  char installDir_[kPathCapacity] = {};
  bool makeDesktop_ = true;
  bool makeStartMenu_ = true;
  char desktopPath_[kPathCapacity] = {};
  char startMenuPath_[kPathCapacity] = {};
  enginetest::RecordingProgress progress_;
};

TEST(RegistryAccessTest, NamesThe64BitViewOnlyOn64BitWindows) {
  EXPECT_EQ(RegistryWriteAccess(true), static_cast<REGSAM>(0x20106));
  EXPECT_EQ(RegistryWriteAccess(false), static_cast<REGSAM>(0x20006));
}

TEST_F(UninstallRegistrationTest, WritesTheEntryInThe64BitView) {
  CopyPath(desktopPath_, "C:\\users\\Public\\Desktop\\Velmorix.lnk");
  CopyPath(startMenuPath_, "C:\\ProgramData\\Tarkweller\\Velmorix.lnk");
  Seed("Publisher", "Someone else");  // an earlier installation's key
  Seed("Comments", "kept");

  const std::string dayBefore = UtcDate();
  ASSERT_TRUE(Register());
  const std::string dayAfter = UtcDate();
  EXPECT_EQ(progress_.LastFailure().cause, FailureCause::None);
  const std::string exe = std::string(kInstallDir) + "\\Velmorix.exe";
  ExpectText("Publisher", "Tarkweller");
  // Midnight (UTC) may pass during the call: either day is right.
  const StoredValue date = Read("InstallDate");
  EXPECT_TRUE(date.bytes == Terminated(dayBefore) || date.bytes == Terminated(dayAfter)) << date.bytes;
  EXPECT_EQ(date.type, static_cast<DWORD>(REG_SZ));
  ExpectText("InstallLocation", kInstallDir);
  ExpectText("Version", "1.0.0.1");
  ExpectText("DisplayName", texts::kProductTitle);
  ExpectText("UninstallString", "\"" + std::string(kInstallDir) + "\\Uninstall.exe\"");
  ExpectText("DisplayIcon", exe);
  ExpectText("DisplayVersion", "1.0.0.1");
  ExpectText("TableShortcut", desktopPath_);
  ExpectText("PanelShortcut", startMenuPath_);
  ExpectText("Comments", "kept");
  for (const char* name : {"NoRepair", "NoModify"}) {
    const StoredValue value = Read(name);
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD)) << name;
    EXPECT_EQ(value.bytes, DwordBytes(1)) << name;
  }
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, texts::kUninstallKeyPath, KEY_WOW64_32KEY));
}

TEST_F(UninstallRegistrationTest, ShortcutValuesOnlyForChosenShortcuts) {
  Seed("TableShortcut", "old desktop");
  Seed("PanelShortcut", "old start menu");
  makeDesktop_ = true;  // chosen, but its creation failed: no path
  makeStartMenu_ = false;
  CopyPath(startMenuPath_, "C:\\not\\chosen.lnk");

  ASSERT_TRUE(Register());
  const StoredValue table = Read("TableShortcut");
  EXPECT_EQ(table.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(table.bytes, std::string(1, '\0'));
  ExpectText("PanelShortcut", "old start menu");
}

TEST_F(UninstallRegistrationTest, PathsThatDoNotFitAreNotWrittenCut) {
  // 250 characters: the folder fits, the quoted command and the program path do not.
  const std::string installDir = "C:\\" + std::string(247, 'v');
  CopyPath(installDir_, installDir.c_str());

  EXPECT_FALSE(Register());
  EXPECT_STREQ(progress_.LastFailureText(), texts::kUninstallValuesFailed);
  EXPECT_FALSE(Read("UninstallString").present);
  EXPECT_FALSE(Read("DisplayIcon").present);
  // The other values are still written; the shortcut values are not.
  ExpectText("InstallLocation", installDir);
  ExpectText("DisplayVersion", "1.0.0.1");
  EXPECT_EQ(Read("NoModify").bytes, DwordBytes(1));
  EXPECT_FALSE(Read("TableShortcut").present);
  EXPECT_FALSE(Read("PanelShortcut").present);
}

TEST_F(UninstallRegistrationTest, KeyThatCannotBeCreatedLeavesTheRegistryUnchanged) {
  // HKLM is redirected to a volatile key of this process: the entry, non-volatile,
  // cannot be created under it (ERROR_CHILD_MUST_BE_VOLATILE).
  const char scratchPath[] = "Software\\VelmorixVolatileScratch";
  UniqueKey scratch;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, scratchPath, 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, scratch.Receive(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch.Get()), ERROR_SUCCESS);
  const bool registered = Register();
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  scratch.Reset();
  RegDeleteTreeA(HKEY_CURRENT_USER, scratchPath);

  EXPECT_FALSE(registered);
  EXPECT_STREQ(progress_.LastFailureText(), texts::kRegistryKeyFailed);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, texts::kUninstallKeyPath, KEY_WOW64_64KEY));
}

TEST_F(UninstallRegistrationTest, RemovalTakesBackOnlyThisInstallationsEntry) {
  // A fresh entry goes whole.
  ReplacedKey replaced;
  ASSERT_EQ(RecordUninstallEntryReplaced(true, replaced), ERROR_SUCCESS);
  EXPECT_EQ(replaced.createdLevels, 1u);
  ASSERT_TRUE(Register());
  const RemovalResult fresh = RemoveUninstallEntry(true, kInstallDir, &replaced);
  EXPECT_EQ(fresh.outcome, Removal::Removed) << fresh.code;
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, texts::kUninstallKeyPath, KEY_WOW64_64KEY));
  EXPECT_EQ(RemoveUninstallEntry(true, kInstallDir, &replaced).outcome, Removal::Absent);

  // A write stopped after its first value: without a record it is nobody's, with the
  // record of before it goes.
  Seed("Publisher", texts::kPublisher);
  EXPECT_EQ(RemoveUninstallEntry(true, kInstallDir, nullptr).outcome, Removal::NotOurs);
  EXPECT_EQ(RemoveUninstallEntry(true, kInstallDir, &replaced).outcome, Removal::Removed);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, texts::kUninstallKeyPath, KEY_WOW64_64KEY));

  // An earlier entry of the same folder: its values come back, others stay.
  Seed("Publisher", "Someone else");
  Seed("Comments", "kept");
  ASSERT_EQ(RecordUninstallEntryReplaced(true, replaced), ERROR_SUCCESS);
  EXPECT_EQ(replaced.createdLevels, 0u);
  ASSERT_TRUE(Register());
  EXPECT_EQ(RemoveUninstallEntry(true, kInstallDir, &replaced).outcome, Removal::Removed);
  ExpectText("Publisher", "Someone else");
  ExpectText("Comments", "kept");
  for (const char* name : {"InstallLocation", "UninstallString", "DisplayName", "NoModify", "TableShortcut"}) {
    EXPECT_FALSE(Read(name).present) << name;
  }

  // Another installation's entry (another folder) is not touched, with or without a record.
  ASSERT_TRUE(Register());
  EXPECT_EQ(RemoveUninstallEntry(true, "C:\\Elsewhere", nullptr).outcome, Removal::NotOurs);
  Seed("UninstallString", "\"C:\\Elsewhere\\Uninstall.exe\"");
  EXPECT_EQ(RemoveUninstallEntry(true, kInstallDir, &replaced).outcome, Removal::NotOurs);
  ExpectText("InstallLocation", kInstallDir);
  // Without a record this installation's entry goes whole, earlier values and all.
  ASSERT_TRUE(Register());
  EXPECT_EQ(RemoveUninstallEntry(true, kInstallDir, nullptr).outcome, Removal::Removed);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, texts::kUninstallKeyPath, KEY_WOW64_64KEY));
}

}  // namespace
