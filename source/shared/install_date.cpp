#include "shared/install_date.h"

namespace {
void PutDigits(char* at, unsigned value, int count) {
  for (int i = count - 1; i >= 0; --i) {
    at[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}
}  // namespace

bool FormatInstallDate(unsigned year, unsigned month, unsigned day, char (&out)[kInstallDateSize]) {
  out[0] = '\0';
  if (year > 9999 || month < 1 || month > 12 || day < 1 || day > 31) return false;
  PutDigits(out, year, 4);
  PutDigits(out + 4, month, 2);
  PutDigits(out + 6, day, 2);
  out[8] = '\0';
  return true;
}
