#include "engine/run_names.h"

#include <windows.h>
#include <ntsecapi.h>

#include <cstdio>
#include <cstring>

#include "shared/path_buffer.h"

namespace {

// `text` upper-cased in the code page, as the file system compares names.
void UpperCopy(char* out, const char* text) {
  CopyPath(out, text);
  CharUpperBuffA(out, static_cast<DWORD>(std::strlen(out)));
}

}  // namespace

bool SameName(const char* a, const char* b) {
  char upperA[kPathCapacity];
  char upperB[kPathCapacity];
  UpperCopy(upperA, a);
  UpperCopy(upperB, b);
  return std::strcmp(upperA, upperB) == 0;
}

std::uint32_t NameKey(const char* text) {
  char upper[kPathCapacity];
  UpperCopy(upper, text);
  std::uint32_t key = 2166136261u;  // FNV-1a
  for (const char* c = upper; *c; ++c) key = (key ^ static_cast<unsigned char>(*c)) * 16777619u;
  return key;
}

bool RandomName(char* out, std::size_t capacity, const char* prefix) {
  unsigned char bytes[8] = {};
  if (!RtlGenRandom(bytes, sizeof(bytes))) return false;
  const int written = std::snprintf(out, capacity, "%s%02x%02x%02x%02x%02x%02x%02x%02x", prefix, bytes[0], bytes[1],
                                    bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7]);
  return written > 0 && static_cast<std::size_t>(written) < capacity;
}

const char* LastComponent(const char* path) {
  const char* slash = std::strrchr(path, '\\');
  return slash && slash[1] ? slash + 1 : nullptr;
}
