// Test builds only: sleeps VELMORIX_FILE_PAUSE_MS milliseconds (at most 10 s) after
// each extracted file, and stops the process at step VELMORIX_STOP_AT_STEP of a run.
#include "engine/extraction_pace.h"

#include <windows.h>

#include <atomic>
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

unsigned long StopAtStep() {
  static const unsigned long step = [] {
    char text[16] = {};
    const DWORD length = GetEnvironmentVariableA("VELMORIX_STOP_AT_STEP", text, sizeof(text));
    return length == 0 || length >= sizeof(text) ? 0ul : std::strtoul(text, nullptr, 10);
  }();
  return step;
}

// The steps counted so far; only the worker or the user-interface thread runs a run.
std::atomic<unsigned long> g_steps{0};

}  // namespace

void PaceExtractedFile() {
  if (const DWORD pause = PauseMilliseconds()) Sleep(pause);
}

void CountRunStep() {
  const unsigned long stop = StopAtStep();
  if (stop != 0 && ++g_steps == stop) TerminateProcess(GetCurrentProcess(), 255);
}
