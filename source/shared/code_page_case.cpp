#include "shared/code_page_case.h"

namespace {

// Capitals of the bytes 0x80-0xBF that are small Cyrillic letters outside а..я;
// zero where the byte is no small letter.
constexpr unsigned char kUpperHigh[64] = {
    0,    0,    0,    0x81, 0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,     // 0x80: ѓ
    0x80, 0,    0,    0,    0,    0,    0,    0,    0,    0,    0x8A, 0,    0x8C, 0x8D, 0x8E, 0x8F,  // 0x90: ђ љ њ ќ ћ џ
    0,    0,    0xA1, 0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,     // 0xA0: ў
    0,    0,    0,    0xB2, 0xA5, 0,    0,    0,    0xA8, 0,    0xAA, 0,    0xA3, 0,    0xBD, 0xAF,  // 0xB0: і ґ ё є ј ѕ ї
};

}  // namespace

char UpperCp1251(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 'a' && u <= 'z') return static_cast<char>(u - 'a' + 'A');
  if (u >= 0xE0) return static_cast<char>(u - 0x20);  // а..я
  if (u >= 0x80 && u < 0xC0 && kUpperHigh[u - 0x80] != 0) return static_cast<char>(kUpperHigh[u - 0x80]);
  return c;
}

bool SameTextCp1251(const char* a, const char* b, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i)
    if (UpperCp1251(a[i]) != UpperCp1251(b[i])) return false;
  return true;
}
