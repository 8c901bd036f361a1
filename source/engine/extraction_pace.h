// A hold between two extracted files, for the end-to-end tests of the test build:
// the extraction writes faster than a test can click, so a case that acts while
// files are being written slows it down. The installer that ships links the version
// that does nothing (extraction_pace_off.cpp); the traced test installer links
// extraction_pace_env.cpp, which reads VELMORIX_FILE_PAUSE_MS.
#pragma once

void PaceExtractedFile();
