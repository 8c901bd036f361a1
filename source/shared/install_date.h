// The install date text of the uninstall entry: YYYYMMDD.
#pragma once
#include <cstddef>

constexpr std::size_t kInstallDateSize = 9;  // eight digits and the terminator

// Writes the date as eight digits; false when the date cannot be written so
// (a year outside 0..9999, a month outside 1..12 or a day outside 1..31).
bool FormatInstallDate(unsigned year, unsigned month, unsigned day, char (&out)[kInstallDateSize]);
