#include "shared/command_text.h"

#include <cstring>

namespace {

// Concatenates up to four parts; false (and an empty out) when they do not fit whole.
bool Concatenate(char* out, std::size_t capacity, const char* a, const char* b,
                 const char* c = "", const char* d = "") {
  const char* parts[] = {a, b, c, d};
  std::size_t total = 0;
  for (const char* part : parts) total += std::strlen(part);
  if (capacity == 0) return false;
  if (total >= capacity) {
    out[0] = '\0';
    return false;
  }
  std::size_t at = 0;
  for (const char* part : parts) {
    const std::size_t length = std::strlen(part);
    std::memcpy(out + at, part, length);
    at += length;
  }
  out[at] = '\0';
  return true;
}

}  // namespace

bool JoinPathWhole(char* out, std::size_t capacity, const char* folder, const char* tail) {
  return Concatenate(out, capacity, folder, tail);
}

bool BuildProgramCommand(char* out, std::size_t capacity, const char* folder, const char* tail) {
  return Concatenate(out, capacity, "\"", folder, tail, "\"");
}

bool BuildOpenCommand(char* out, std::size_t capacity, const char* programPath) {
  return Concatenate(out, capacity, "\"", programPath, "\" \"%1\"");
}

bool BuildIconLocation(char* out, std::size_t capacity, const char* programPath) {
  return Concatenate(out, capacity, programPath, ",0");
}
