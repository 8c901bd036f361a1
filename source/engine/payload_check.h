// The installer's check of its own payload: resource 111 of type "Binary" holds the
// CRC-32 of archives 109 and 110 (engine/payload_checksum.h). A byte damaged in
// transit passes every structural check of the archive reader; this catches it
// before anything is written.
#pragma once
#include <windows.h>

#include <cstddef>

// Whether `module` (nullptr: the running executable) carries resource 111 and it
// holds the sums of the two archives given. A missing resource, or one that is not
// exactly 8 bytes, counts as a mismatch: a payload without its sums is not trusted.
bool PayloadChecksumsHold(HMODULE module, const void* program, std::size_t programSize, const void* work,
                          std::size_t workSize);
