#include "engine/run_names.h"

#include <windows.h>
#include <ntsecapi.h>

#include <cstdio>
#include <cstring>

#include "shared/code_page_case.h"

bool SameName(const char* a, const char* b) {
  const std::size_t length = std::strlen(a);
  return std::strlen(b) == length && SameTextCp1251(a, b, length);
}

std::uint32_t NameKey(const char* text) {
  std::uint32_t key = 2166136261u;  // FNV-1a
  for (const char* c = text; *c; ++c) key = (key ^ static_cast<unsigned char>(UpperCp1251(*c))) * 16777619u;
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
