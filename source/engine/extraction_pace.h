// A hold between two extracted files, for the end-to-end tests of the test build:
// the extraction writes faster than a test can click, so a case that acts while
// files are being written slows it down. The installer that ships links the version
// that does nothing (extraction_pace_off.cpp); the traced test installer links
// extraction_pace_env.cpp, which reads VELMORIX_FILE_PAUSE_MS.
#pragma once

void PaceExtractedFile();

// Called before each step of a run that changes the disk or the journal. The traced
// test installer, given VELMORIX_STOP_AT_STEP=N, ends its own process at once at the
// Nth step, before that step: a run killed between any two of its steps, at a point
// a test chooses exactly. The installer that ships does nothing here.
void CountRunStep();
