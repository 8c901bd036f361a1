// Names as a run compares and chooses them: the file system's comparison (folded to
// capitals in the code page, shared/code_page_case.h), a hash of it for quick lookups, and random names nobody can guess
// or take before the run uses them.
#pragma once
#include <cstddef>
#include <cstdint>

bool SameName(const char* a, const char* b);
// The same for both of two names that SameName finds equal.
std::uint32_t NameKey(const char* text);

// `prefix` followed by 16 hexadecimal digits from the system's random generator, in
// `out` (`capacity` bytes). False when the generator fails or the name does not fit.
bool RandomName(char* out, std::size_t capacity, const char* prefix);

// The last component of `path` (after its last backslash), or null.
const char* LastComponent(const char* path);
