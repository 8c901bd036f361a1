#include "shared/folder_creation.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "shared/texts.h"
#include "shared/failure_texts.h"
#include "wizard/folder_failure_box.h"

using enginetest::FolderExists;
using enginetest::TempFolder;

namespace {

// Each entry of an access list as "type flags mask sid".
std::vector<std::string> DescribeList(PACL list) {
  std::vector<std::string> entries;
  ACL_SIZE_INFORMATION size = {};
  if (list == nullptr || !GetAclInformation(list, &size, sizeof(size), AclSizeInformation)) return entries;
  for (DWORD i = 0; i < size.AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(list, i, &ace)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    std::string text = std::to_string(header->AceType) + " " + std::to_string(header->AceFlags);
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
      auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
      char* sid = nullptr;
      ConvertSidToStringSidA(&allowed->SidStart, &sid);
      text += " " + std::to_string(allowed->Mask) + " " + (sid ? sid : "?");
      LocalFree(sid);
    }
    entries.push_back(text);
  }
  return entries;
}

const std::string kUsersEntry = std::to_string(ACCESS_ALLOWED_ACE_TYPE) + " " +
                                std::to_string(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE) + " " +
                                std::to_string(GENERIC_ALL) + " S-1-5-32-545";

// Every folder about to be created: its path and the list it is created with.
struct CreatedFolder {
  std::string folder;
  bool withList = false;
  bool listProtected = false;
  std::vector<std::string> list;
};
std::vector<CreatedFolder> g_created;

void RecordFolder(const char* path, const SECURITY_ATTRIBUTES* attributes) {
  CreatedFolder record;
  record.folder = path;
  if (attributes != nullptr && attributes->lpSecurityDescriptor != nullptr) {
    record.withList = true;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL list = nullptr;
    if (GetSecurityDescriptorDacl(attributes->lpSecurityDescriptor, &present, &list, &defaulted) && present)
      record.list = DescribeList(list);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(attributes->lpSecurityDescriptor, &control, &revision);
    record.listProtected = (control & SE_DACL_PROTECTED) != 0;
  }
  g_created.push_back(record);
}

class FolderCreation : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(root_.Path().empty());
    g_created.clear();
    previous_ = ObserveFolderCreation(&RecordFolder);
  }
  void TearDown() override { ObserveFolderCreation(previous_); }

  // Creates `text` through a 260-byte buffer; returns the normalised buffer.
  static std::string Create(const std::string& text, BYTE grantAccess, bool* result,
                            FailureCause* cause = nullptr) {
    char buffer[MAX_PATH] = {};
    text.copy(buffer, MAX_PATH - 1);
    const FailureCause failure = CreateFolderPath(buffer, grantAccess);
    *result = failure == FailureCause::None;
    if (cause) *cause = failure;
    return buffer;
  }

  static bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
  }

  TempFolder root_;
  FolderObserver previous_ = nullptr;
};

TEST_F(FolderCreation, NormalisesTheBufferAndCreatesEveryMissingFolder) {
  bool result = false;
  std::string forward = root_.Path();
  std::replace(forward.begin(), forward.end(), '\\', '/');
  EXPECT_EQ(Create(forward + "/A/B//", 0, &result), root_ / "A\\B");
  EXPECT_TRUE(result);
  EXPECT_TRUE(FolderExists(root_ / "A\\B"));

  EXPECT_EQ(Create(root_ / "C\\D\\", 0, &result), root_ / "C\\D");
  EXPECT_TRUE(result);
  EXPECT_TRUE(FolderExists(root_ / "C\\D"));

  // An existing folder is success, also in Users-access mode, and nothing is made anew.
  const std::size_t madeBefore = g_created.size();
  EXPECT_EQ(Create(root_ / "C\\D", 1, &result), root_ / "C\\D");
  EXPECT_TRUE(result);
  EXPECT_EQ(g_created.size(), madeBefore);
  for (const CreatedFolder& record : g_created) EXPECT_FALSE(record.withList) << record.folder;
}

TEST_F(FolderCreation, ReportsPathsItCannotCreate) {
  bool result = true;
  EXPECT_EQ(Create("\\/\\//", 0, &result), "");
  EXPECT_FALSE(result);

  // The part before the first separator is never created on its own.
  char current[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, current);
  ASSERT_TRUE(SetCurrentDirectoryA(root_.Path().c_str()));
  EXPECT_EQ(Create("Rel\\Sub", 0, &result), "Rel\\Sub");
  EXPECT_FALSE(result);
  EXPECT_FALSE(FolderExists(root_ / "Rel"));
  SetCurrentDirectoryA(current);

  // A file standing where a parent folder should be leaves the path unknown; one at
  // the path itself passes here (the run refuses it).
  ASSERT_TRUE(enginetest::WriteWholeFile(root_ / "file", "x"));
  FailureCause cause = FailureCause::None;
  EXPECT_EQ(Create(root_ / "file\\sub", 1, &result, &cause), root_ / "file\\sub");
  EXPECT_FALSE(result);
  EXPECT_EQ(cause, FailureCause::FolderPathUnknown);
  Create(root_ / "file", 1, &result);
  EXPECT_TRUE(result);

  // The server and share parts of a network path are tried silently; the last decides.
  EXPECT_EQ(Create("//nosuchserver/share/folder/", 0, &result), "\\\\nosuchserver\\share\\folder");
  EXPECT_FALSE(result);
  EXPECT_TRUE(g_created.empty());

  // A parent that cannot be made leaves the path unknown too.
  Create(root_ / "bad|name\\sub", 0, &result, &cause);
  EXPECT_FALSE(result);
  EXPECT_EQ(cause, FailureCause::FolderPathUnknown);
}

TEST_F(FolderCreation, GivesUsersFullControlOnEveryFolderItCreatesInTheCreationItself) {
  bool result = false;
  Create(root_ / "Work\\Data\\Deep", 1, &result);
  ASSERT_TRUE(result);
  ASSERT_EQ(g_created.size(), 3u);
  const char* tails[] = {"\\Work", "\\Work\\Data", "\\Work\\Data\\Deep"};
  for (std::size_t i = 0; i < g_created.size(); ++i) {
    const CreatedFolder& record = g_created[i];
    EXPECT_EQ(record.folder, root_.Path() + tails[i]);
    // Exactly the Users entry; the list is not protected, so the system adds what
    // the parent passes on.
    EXPECT_TRUE(record.withList) << record.folder;
    EXPECT_EQ(record.list, std::vector<std::string>{kUsersEntry}) << record.folder;
    EXPECT_FALSE(record.listProtected) << record.folder;
    EXPECT_TRUE(FolderExists(record.folder));
  }

  // Only the new folder of a partly existing path is made, with the entry.
  g_created.clear();
  Create(root_ / "Work\\Data\\Other", 1, &result);
  ASSERT_TRUE(result);
  ASSERT_EQ(g_created.size(), 1u);
  EXPECT_EQ(g_created[0].folder, root_ / "Work\\Data\\Other");
  EXPECT_EQ(g_created[0].list, std::vector<std::string>{kUsersEntry});

  // Default security hands over no list at all.
  g_created.clear();
  Create(root_ / "Plain\\Folder", 0, &result);
  EXPECT_TRUE(result);
  ASSERT_EQ(g_created.size(), 2u);
  for (const CreatedFolder& record : g_created) EXPECT_FALSE(record.withList) << record.folder;
}

// The real message box: a second thread finds it, reads it and presses OK.
struct BoxWatch {
  HWND owner = nullptr;
  std::string text;
  std::string caption;
  HWND boxOwner = nullptr;
};

DWORD WINAPI WatchForBox(LPVOID parameter) {
  auto* watch = static_cast<BoxWatch*>(parameter);
  for (int i = 0; i < 500; ++i) {
    HWND box = FindWindowA("#32770", texts::kErrorCaption);
    if (box != nullptr && GetWindowThreadProcessId(box, nullptr) != GetCurrentThreadId()) {
      char text[1024] = {};
      GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
      char caption[256] = {};
      GetWindowTextA(box, caption, sizeof(caption));
      watch->text = text;
      watch->caption = caption;
      watch->boxOwner = GetWindow(box, GW_OWNER);
      PostMessageA(box, WM_COMMAND, IDOK, 0);
      return 1;
    }
    Sleep(20);
  }
  return 0;
}

// What the settings page does with a folder it cannot create.
std::string ShowFailure(HWND owner, const std::string& path, bool* result, BoxWatch* watch) {
  watch->owner = owner;
  const UniqueHandle watcher(CreateThread(nullptr, 0, WatchForBox, watch, 0, nullptr));
  char buffer[MAX_PATH] = {};
  path.copy(buffer, MAX_PATH - 1);
  const FailureCause failure = CreateFolderPath(buffer, 0);
  *result = failure == FailureCause::None;
  if (failure != FailureCause::None) ShowFolderFailure(owner, buffer, FailureText(failure));
  WaitForSingleObject(watcher.Get(), 15000);
  DWORD found = 0;
  GetExitCodeThread(watcher.Get(), &found);
  return found ? buffer : std::string("<no box>");
}

TEST_F(FolderCreation, ShowsThePathAndTheReasonInABoxOwnedByTheCaller) {
  HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(owner, nullptr);
  ASSERT_TRUE(enginetest::WriteWholeFile(root_ / "file", "x"));

  bool result = true;
  BoxWatch missing;
  const std::string normalised = ShowFailure(owner, root_ / "file\\sub\\", &result, &missing);
  EXPECT_FALSE(result);
  EXPECT_EQ(normalised, root_ / "file\\sub");
  EXPECT_EQ(missing.text, root_ / "file\\sub" + "\n" + texts::kFolderPathUnknown);
  EXPECT_EQ(missing.caption, texts::kErrorCaption);
  EXPECT_EQ(missing.boxOwner, owner);

  BoxWatch invalid;
  ShowFailure(owner, root_ / "bad|name", &result, &invalid);
  EXPECT_FALSE(result);
  EXPECT_EQ(invalid.text, root_ / "bad|name" + "\n" + texts::kFolderCreateFailed);
  DestroyWindow(owner);
}

// Wine keeps no folder access lists, so end-to-end runs read the lists applied
// from a trace file. The variable is read once per process: the check runs in a
// child process of this test program.
TEST_F(FolderCreation, TracesEveryAppliedListWhenAsked) {
  char childRoot[MAX_PATH] = {};
  if (GetEnvironmentVariableA("VELMORIX_TRACE_CHILD_ROOT", childRoot, MAX_PATH) > 0) {
    ObserveFolderCreation(nullptr);
    char path[MAX_PATH] = {};
    (std::string(childRoot) + "\\T1\\T2").copy(path, MAX_PATH - 1);
    ASSERT_EQ(CreateFolderPath(path, 1), FailureCause::None);
    return;
  }
  const std::string trace = root_ / "trace.txt";
  char exe[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameA(nullptr, exe, MAX_PATH), 0u);
  std::string command = "\"" + std::string(exe) + "\" --gtest_filter=FolderCreation.TracesEveryAppliedListWhenAsked";
  SetEnvironmentVariableA("VELMORIX_TRACE_CHILD_ROOT", root_.Path().c_str());
  SetEnvironmentVariableA("VELMORIX_ACCESS_TRACE", trace.c_str());
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  const BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                      &process);
  SetEnvironmentVariableA("VELMORIX_TRACE_CHILD_ROOT", nullptr);
  SetEnvironmentVariableA("VELMORIX_ACCESS_TRACE", nullptr);
  ASSERT_TRUE(started);
  WaitForSingleObject(process.hProcess, 60000);
  DWORD exitCode = 1;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(exitCode, 0u);

  const std::string content = enginetest::ReadWholeFile(trace);
  const std::string first = root_ / "T1" + "\t";
  const std::string second = root_ / "T1\\T2" + "\t";
  ASSERT_EQ(content.compare(0, first.size(), first), 0) << content;
  const std::size_t lineEnd = content.find("\r\n");
  ASSERT_NE(lineEnd, std::string::npos);
  EXPECT_EQ(content.compare(lineEnd + 2, second.size(), second), 0) << content;
  EXPECT_NE(content.find("(A;OICI;GA;;;BU)"), std::string::npos) << content;
  EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 2);
}

}  // namespace
