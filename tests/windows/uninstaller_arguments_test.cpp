// Uninstall.exe splits a plain command line itself (CommandLineToArgvW would load
// shell32 and the window libraries with it); what it splits must be exactly what
// CommandLineToArgvW gives, and every other line must be left to CommandLineToArgvW.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "shared/raii.h"
#include "uninstaller/uninstaller.h"

namespace {

using Arguments = std::vector<std::wstring>;

// The arguments after the program's name as Windows splits them.
Arguments SystemSplit(const wchar_t* line) {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(line, &count);
  const UniqueLocal owner(argv);
  Arguments result;
  for (int i = 1; argv != nullptr && i < count; ++i) result.emplace_back(argv[i]);
  return result;
}

// A plain line splits as the system splits it; any other is refused.
void ExpectSplit(const wchar_t* line, bool plain) {
  SCOPED_TRACE(testing::Message() << line);
  const std::unique_ptr<PlainArguments> split(new PlainArguments);
  ASSERT_EQ(SplitPlainArguments(line, split.get()), plain);
  if (plain) {
    EXPECT_EQ(Arguments(split->list, split->list + split->count), SystemSplit(line));
  }
}

}  // namespace

TEST(UninstallerArguments, PlainLinesSplitAsCommandLineToArgvWSplitsThem) {
  const wchar_t* const lines[] = {
      L"\"C:\\Program Files\\Tarkweller\\Velmorix\\Uninstall.exe\" /S",
      L"C:\\Velmorix\\Uninstall.exe /S /REMOVEDATA",
      L"\"C:\\Keep\\Uninstall.exe\" /FROMCOPY  /S\t/LOG=C:\\logs\\removal.log",
      L"Uninstall.exe",
      L"\"C:\\a b\\Uninstall.exe\"",
      L"Uninstall.exe \t ",
      // Backslashes that no quotation mark follows are ordinary characters.
      L"Uninstall.exe /LOG=C:\\trailing\\ /S \\\\server\\share\\",
      // Eight arguments, the most it takes.
      L"Uninstall.exe /s /removedata /LOG=x /FROMCOPY /a /b /c /d",
  };
  for (const wchar_t* line : lines) ExpectSplit(line, true);
}

// Where quotation marks decide (or the list is long), the line goes to the system;
// each of these a blank-only split would get wrong, or the program's name unclear.
TEST(UninstallerArguments, LinesThatAreNotPlainAreLeftToCommandLineToArgvW) {
  const wchar_t* const lines[] = {
      L"Uninstall.exe \"/LOG=C:\\my logs\\removal.log\" /S",
      L"Uninstall.exe /LOG=a\\\"b /S",
      L"C:\\a\"b c\"\\Uninstall.exe /S",
      L"\"C:\\Keep\\Uninstall.exe\"/S",
      L"\"C:\\unterminated\\Uninstall.exe /S",
      L" Uninstall.exe /S",
      L"",
      L"Uninstall.exe /1 /2 /3 /4 /5 /6 /7 /8 /9",
  };
  for (const wchar_t* line : lines) ExpectSplit(line, false);
}
