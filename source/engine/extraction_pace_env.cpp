// Test builds only: sleeps VELMORIX_FILE_PAUSE_MS milliseconds (at most 10 s) after
// each extracted file.
#include "engine/extraction_pace.h"

#include <windows.h>

#include <cstdlib>

namespace {

DWORD PauseMilliseconds() {
  static const DWORD pause = [] {
    char text[16] = {};
    const DWORD length = GetEnvironmentVariableA("VELMORIX_FILE_PAUSE_MS", text, sizeof(text));
    if (length == 0 || length >= sizeof(text)) return DWORD{0};
    const unsigned long value = std::strtoul(text, nullptr, 10);
    return static_cast<DWORD>(value > 10000 ? 10000 : value);
  }();
  return pause;
}

}  // namespace

void PaceExtractedFile() {
  if (const DWORD pause = PauseMilliseconds()) Sleep(pause);
}
