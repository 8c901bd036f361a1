// Starting the installed program as the signed-in user, seen at the system's edge.
// Under Wine every process has the same token and no elevation exists, so these
// cases show which way a start takes and what it hands over (a primary token taken
// from the shell's process, the quoted command line), not the rights the program
// then runs with.
#include "shared/launch.h"

#include <gtest/gtest.h>

#include <string>

#include "shared/raii.h"
#include "shared/texts.h"

namespace {

struct Calls {
  HWND shell = nullptr;
  DWORD failWith = 0;  // makes the start with a token fail with this error
  int tokenStarts = 0;
  std::wstring tokenCommand;
  WORD tokenShow = 0;
  bool primaryToken = false;
} g_calls;

HWND WINAPI FakeShellWindow() { return g_calls.shell; }

BOOL WINAPI RecordTokenStart(HANDLE token, DWORD, LPCWSTR, LPWSTR commandLine, DWORD, LPVOID, LPCWSTR,
                             LPSTARTUPINFOW startup, LPPROCESS_INFORMATION started) {
  ++g_calls.tokenStarts;
  g_calls.tokenCommand = commandLine ? commandLine : L"";
  g_calls.tokenShow = (startup->dwFlags & STARTF_USESHOWWINDOW) ? startup->wShowWindow : 0xFFFF;
  TOKEN_TYPE type = TokenImpersonation;
  DWORD size = 0;
  g_calls.primaryToken = GetTokenInformation(token, TokenType, &type, sizeof(type), &size) && type == TokenPrimary;
  if (g_calls.failWith != 0) {
    SetLastError(g_calls.failWith);
    return FALSE;
  }
  *started = PROCESS_INFORMATION{};
  return TRUE;
}

class LaunchAsUser : public ::testing::Test {
 protected:
  void SetUp() override {
    g_calls = Calls{};
    previous_ = ReplaceUserLaunchCalls({&FakeShellWindow, &RecordTokenStart});
    shellStandIn_ = CreateWindowExA(0, "STATIC", "shell", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(shellStandIn_, nullptr);
  }
  void TearDown() override {
    ReplaceUserLaunchCalls(previous_);
    DestroyWindow(shellStandIn_);
  }

  UserLaunchCalls previous_{};
  HWND shellStandIn_ = nullptr;
};

const char kFolder[] = "C:\\Program Files (x86)\\Tarkweller\\Velmorix";

TEST_F(LaunchAsUser, TakesThePrimaryTokenOfTheShellsProcessAndTheQuotedCommandLine) {
  g_calls.shell = shellStandIn_;
  EXPECT_GT(LaunchProgramAsUser(kFolder, texts::kProgramExeTail), 31u);
  EXPECT_EQ(g_calls.tokenStarts, 1);
  EXPECT_EQ(g_calls.tokenCommand, L"\"C:\\Program Files (x86)\\Tarkweller\\Velmorix\\Velmorix.exe\"");
  EXPECT_EQ(g_calls.tokenShow, SW_SHOW);
  EXPECT_TRUE(g_calls.primaryToken);
}

// Without a shell there is no user's token: nothing starts (a start with the
// installer's own rights would find no program at kFolder and report 2 or 3).
TEST_F(LaunchAsUser, WithoutAShellNothingStartsAndTheFailureIsShown) {
  const UINT result = LaunchProgramAsUser(kFolder, texts::kProgramExeTail);
  EXPECT_EQ(result, 0u);
  EXPECT_STREQ(LaunchFailureText(result), texts::kLaunchOutOfResources);
  EXPECT_EQ(g_calls.tokenStarts, 0);

  // A command line that would not fit whole starts nothing either.
  g_calls.shell = shellStandIn_;
  EXPECT_EQ(LaunchProgramAsUser(("C:\\" + std::string(250, 'x')).c_str(), texts::kProgramExeTail),
            static_cast<UINT>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(g_calls.tokenStarts, 0);
}

TEST_F(LaunchAsUser, FailuresShowTheLaunchTextOfTheirCause) {
  g_calls.shell = shellStandIn_;
  const struct {
    DWORD error;
    const char* text;
  } cases[] = {
      {ERROR_FILE_NOT_FOUND, texts::kLaunchFileNotFound},
      {ERROR_PATH_NOT_FOUND, texts::kLaunchPathNotFound},
      {ERROR_BAD_EXE_FORMAT, texts::kLaunchBadExe},
      {ERROR_NOT_ENOUGH_MEMORY, texts::kLaunchOutOfResources},
  };
  for (const auto& c : cases) {
    g_calls.failWith = c.error;
    const UINT result = LaunchProgramAsUser(kFolder, texts::kProgramExeTail);
    EXPECT_LE(result, 31u) << c.error;
    EXPECT_STREQ(LaunchFailureText(result), c.text) << c.error;
  }
}

}  // namespace
