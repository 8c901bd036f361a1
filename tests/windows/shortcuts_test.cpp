#include "integration/shortcuts.h"

#include <gtest/gtest.h>
#include <objidl.h>
#include <shlobj.h>
#define STRSAFE_NO_DEPRECATE
#include <strsafe.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <iterator>
#include <memory>
#include <string>

#include "shared/folder_creation.h"
#include "shared/raii.h"
#include "shared/texts.h"
#include "engine_test_support.h"

namespace {

std::wstring ShellFolder(int folderId) {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, folderId | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

std::string Ansi(const std::wstring& text) {
  int byteCount = 0;
  const std::unique_ptr<char[]> ansi(WideToAnsi(text.c_str(), &byteCount));
  return ansi ? ansi.get() : "";
}

bool IsFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string UpperCase(std::string text) {
  CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

struct ShortcutFields {
  std::string target, workingFolder, arguments, iconFile;
  int iconIndex = -1, showCommand = -1;
  WORD hotkey = 0xFFFF;
};

// Reads a shortcut file back through the same ANSI shell-link object.
ShortcutFields ReadShortcut(const std::wstring& path) {
  ShortcutFields fields;
  ComPtr<IShellLinkA> link;
  ComPtr<IPersistFile> file;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              link.ReceiveVoid())) ||
      FAILED(link->QueryInterface(IID_IPersistFile, file.ReceiveVoid())) ||
      FAILED(file->Load(path.c_str(), STGM_READ)))
    return fields;
  char text[MAX_PATH] = {};
  if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) fields.target = text;
  if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) fields.workingFolder = text;
  if (SUCCEEDED(link->GetArguments(text, MAX_PATH))) fields.arguments = text;
  if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH, &fields.iconIndex))) fields.iconFile = text;
  link->GetShowCmd(&fields.showCommand);
  link->GetHotkey(&fields.hotkey);
  return fields;
}

// The folder access lists handed over, and how many of them hold an entry for Users.
std::atomic<int> g_listsApplied{0};
std::atomic<int> g_listsWithUsers{0};

BOOL WINAPI RecordAppliedList(LPCSTR path, LPSECURITY_ATTRIBUTES attributes) {
  if (!CreateDirectoryA(path, attributes)) return FALSE;
  if (attributes == nullptr || attributes->lpSecurityDescriptor == nullptr) return TRUE;
  ++g_listsApplied;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL list = nullptr;
  GetSecurityDescriptorDacl(attributes->lpSecurityDescriptor, &present, &list, &defaulted);
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  UniqueSid users;
  if (list == nullptr || !AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                                   DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0, 0, users.Receive()))
    return TRUE;
  for (DWORD i = 0; i < list->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(list, i, &ace)) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && EqualSid(&allowed->SidStart, users.Get())) {
      ++g_listsWithUsers;
      break;
    }
  }
  return TRUE;
}

class ShortcutsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(com_.Result()));
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    installDir_ = std::string(temp) + "velmorix-shortcuts-test";
    programExe_ = installDir_ + "\\Velmorix.exe";
    CreateDirectoryA(installDir_.c_str(), nullptr);
    UniqueHandle exe(CreateFileA(programExe_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(exe.Valid());

    desktopLink_ = ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Velmorix.lnk";
    makerFolder_ = ShellFolder(CSIDL_COMMON_PROGRAMS) + L"\\Tarkweller";
    startMenuLink_ = makerFolder_ + L"\\Velmorix.lnk";
    RemoveShortcuts();
    g_listsApplied = 0;
    g_listsWithUsers = 0;
    ReplaceCreateDirectory(&RecordAppliedList);
  }
  void TearDown() override {
    ReplaceCreateDirectory(nullptr);
    RemoveShortcuts();
    DeleteFileA(programExe_.c_str());
    RemoveDirectoryA(installDir_.c_str());
  }
  void RemoveShortcuts() {
    for (const std::wstring& link : {desktopLink_, startMenuLink_}) {
      if (!DeleteFileW(link.c_str())) RemoveDirectoryW(link.c_str());
    }
    RemoveDirectoryW(makerFolder_.c_str());
  }
  void ExpectProgramShortcut(const std::wstring& link) {
    const ShortcutFields fields = ReadShortcut(link);
    EXPECT_EQ(lstrcmpiA(fields.target.c_str(), programExe_.c_str()), 0) << fields.target;
    EXPECT_EQ(fields.workingFolder, installDir_);
    EXPECT_EQ(fields.arguments, "");
    EXPECT_EQ(fields.iconFile, programExe_);
    EXPECT_EQ(fields.iconIndex, 0);
    EXPECT_EQ(fields.showCommand, SW_SHOWNORMAL);
    EXPECT_EQ(fields.hotkey, 0);
  }

  ComApartment com_{CoInitialize(nullptr)};
  // The shortcuts of the fixture's choices for the program at `exe`.
  bool Make(const char* exe) {
    return CreateProgramShortcuts({makeDesktop_, makeStartMenu_, installDir_.c_str(), exe},
                                  {desktopPath_, startMenuPath_}, progress_);
  }

  bool makeDesktop_ = true;
  bool makeStartMenu_ = true;
  char desktopPath_[kPathCapacity] = {};
  char startMenuPath_[kPathCapacity] = {};
  enginetest::RecordingProgress progress_;
  std::string installDir_, programExe_;
  std::wstring desktopLink_, makerFolder_, startMenuLink_;
};

TEST_F(ShortcutsTest, CreatesBothShortcutsAndTheMakersFolder) {
  ASSERT_TRUE(Make(programExe_.c_str()));
  EXPECT_STREQ(progress_.LastFailureText(), "");
  ExpectProgramShortcut(desktopLink_);
  ExpectProgramShortcut(startMenuLink_);
  EXPECT_EQ(desktopPath_, Ansi(desktopLink_));
  EXPECT_EQ(startMenuPath_, Ansi(startMenuLink_));
  // The new maker's folder was given the Users entry.
  EXPECT_EQ(g_listsApplied, 1);
  EXPECT_EQ(g_listsWithUsers, 1);
}

TEST_F(ShortcutsTest, ExistingMakersFolderAndShortcutAreReused) {
  ASSERT_TRUE(CreateDirectoryW(makerFolder_.c_str(), nullptr));
  ASSERT_TRUE(SUCCEEDED(CreateShellShortcut(startMenuLink_.c_str(), "C:\\windows\\notepad.exe", "C:\\",
                                            "C:\\windows\\notepad.exe")));
  makeDesktop_ = false;

  ASSERT_TRUE(Make(programExe_.c_str()));
  ExpectProgramShortcut(startMenuLink_);
  EXPECT_EQ(g_listsApplied, 0);  // the folder's access list was left alone
  EXPECT_FALSE(IsFile(desktopLink_));
  EXPECT_STREQ(desktopPath_, "");
}

TEST_F(ShortcutsTest, FailedShortcutsKeepTheirPathsAndTheLastMessageRemains) {
  // A folder standing where a shortcut file goes makes its Save fail.
  CopyPath(desktopPath_, "earlier desktop");
  CopyPath(startMenuPath_, "earlier start menu");
  ASSERT_TRUE(CreateDirectoryW(desktopLink_.c_str(), nullptr));

  EXPECT_FALSE(Make(programExe_.c_str()));
  EXPECT_STREQ(progress_.LastFailureText(), texts::kDesktopShortcutFailed);
  EXPECT_STREQ(desktopPath_, "earlier desktop");
  EXPECT_EQ(startMenuPath_, Ansi(startMenuLink_));
  ExpectProgramShortcut(startMenuLink_);

  DeleteFileW(startMenuLink_.c_str());
  ASSERT_TRUE(CreateDirectoryW(startMenuLink_.c_str(), nullptr));
  CopyPath(startMenuPath_, "earlier start menu");
  EXPECT_FALSE(Make(programExe_.c_str()));
  EXPECT_STREQ(progress_.LastFailureText(), texts::kStartMenuShortcutFailed);
  EXPECT_STREQ(desktopPath_, "earlier desktop");
  EXPECT_STREQ(startMenuPath_, "earlier start menu");
}

TEST_F(ShortcutsTest, NothingChosenTouchesNothing) {
  makeDesktop_ = false;
  makeStartMenu_ = false;

  EXPECT_TRUE(Make(programExe_.c_str()));
  EXPECT_EQ(progress_.LastFailure().cause, FailureCause::None);
  EXPECT_EQ(GetFileAttributesW(desktopLink_.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW(makerFolder_.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_STREQ(desktopPath_, "");
  EXPECT_STREQ(startMenuPath_, "");
}

TEST_F(ShortcutsTest, AProgramPathThatDidNotFitFailsEveryChosenShortcut) {
  EXPECT_FALSE(Make(nullptr));
  EXPECT_STREQ(progress_.LastFailureText(), texts::kStartMenuShortcutFailed);
  EXPECT_FALSE(IsFile(desktopLink_));
  EXPECT_FALSE(IsFile(startMenuLink_));
  EXPECT_STREQ(desktopPath_, "");
  EXPECT_STREQ(startMenuPath_, "");

  makeStartMenu_ = false;
  EXPECT_FALSE(Make(nullptr));
  EXPECT_STREQ(progress_.LastFailureText(), texts::kDesktopShortcutFailed);
}

TEST_F(ShortcutsTest, RemovesOnlyAShortcutThatStillPointsAtTheProgram) {
  makeStartMenu_ = false;
  ASSERT_TRUE(Make(programExe_.c_str()));
  const std::string link = Ansi(desktopLink_);

  // Re-pointed by the user, or replaced by a folder: left where it is.
  ASSERT_TRUE(SUCCEEDED(CreateShellShortcut(desktopLink_.c_str(), "C:\\windows\\notepad.exe", "C:\\",
                                            "C:\\windows\\notepad.exe")));
  EXPECT_EQ(RemoveProgramShortcut(link.c_str(), programExe_.c_str()).outcome, Removal::NotOurs);
  EXPECT_TRUE(IsFile(desktopLink_));
  // A path that only differs from the program's in letter case is the program's.
  ASSERT_TRUE(SUCCEEDED(CreateShellShortcut(desktopLink_.c_str(), programExe_.c_str(), installDir_.c_str(),
                                            programExe_.c_str())));
  // Read a moment longer by another program (as Wine's menu builder reads a new
  // shortcut), without sharing deletion: waited for.
  enginetest::BriefHold reader(link, 300);
  ASSERT_TRUE(reader.Held());
  const RemovalResult removed = RemoveProgramShortcut(link.c_str(), UpperCase(programExe_).c_str());
  EXPECT_TRUE(reader.Released());
  EXPECT_EQ(removed.outcome, Removal::Removed);
  EXPECT_EQ(removed.code, 0u);
  EXPECT_FALSE(IsFile(desktopLink_));
  EXPECT_EQ(RemoveProgramShortcut(link.c_str(), programExe_.c_str()).outcome, Removal::Absent);

  ASSERT_TRUE(CreateDirectoryW(desktopLink_.c_str(), nullptr));
  EXPECT_EQ(RemoveProgramShortcut(link.c_str(), programExe_.c_str()).outcome, Removal::NotOurs);
  EXPECT_NE(GetFileAttributesW(desktopLink_.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(AppendWidePathTest, AppendsWholeOrReportsTheCut) {
  wchar_t path[kLinkPathCapacity] = L"C:\\Desk";
  EXPECT_EQ(AppendWidePath(path, L"\\Velmorix.lnk"), S_OK);
  EXPECT_STREQ(path, L"C:\\Desk\\Velmorix.lnk");

  // 250 characters, then 9 more fill the buffer exactly; one more does not fit.
  std::wstring base(250, L'a');
  wcscpy(path, base.c_str());
  EXPECT_EQ(AppendWidePath(path, L"\\12345678"), S_OK);
  EXPECT_EQ(wcslen(path), kLinkPathCapacity - 1);
  wcscpy(path, base.c_str());
  EXPECT_EQ(AppendWidePath(path, L"\\Velmorix.lnk"), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::wstring(path), base + L"\\Velmorix");  // 259 characters kept

  // No terminator within the buffer: nothing is read past it or changed.
  std::fill(std::begin(path), std::end(path), L'x');
  EXPECT_EQ(AppendWidePath(path, L"\\y"), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_EQ(path[kLinkPathCapacity - 1], L'x');
}

TEST(WideToAnsiTest, ConvertsToTheAnsiCodePage) {
  int byteCount = 0;
  const std::unique_ptr<char[]> ansi(WideToAnsi(L"C:\\Тривеллон", &byteCount));
  ASSERT_NE(ansi, nullptr);
  EXPECT_STREQ(ansi.get(), "C:\\Тривеллон");  // both in code page 1251
  EXPECT_EQ(byteCount, 13);
}

}  // namespace
