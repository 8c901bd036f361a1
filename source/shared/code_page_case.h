// Case folding of code page 1251 text, as Windows compares file names: the Latin
// and every Cyrillic letter of the code page to its capital. Portable: no <windows.h>.
#pragma once
#include <cstddef>

// The capital of one code page 1251 byte; any other byte as it is.
char UpperCp1251(char c);

// Whether [a, a + length) and [b, b + length) are the same text but for case.
bool SameTextCp1251(const char* a, const char* b, std::size_t length);
