// Waiting out another program that holds a file for a moment: a virus scanner, an
// indexer, the shell reading a new program's icon or a new shortcut let go within
// moments, and a step on the file should not fail for that.
#pragma once
#include <windows.h>

// Calls `attempt` until it returns false (it did not fail for a file held by another
// program), at most 40 times 50 ms apart: two seconds.
template <typename Attempt>
void RetryWhileHeld(Attempt attempt) {
  constexpr int kAttempts = 40;
  constexpr DWORD kPauseMs = 50;
  for (int tried = 1; attempt() && tried < kAttempts; ++tried) Sleep(kPauseMs);
}
