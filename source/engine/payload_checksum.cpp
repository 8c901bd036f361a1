#include "engine/payload_checksum.h"

#include <array>

#include "shared/little_endian.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define VELMORIX_CRC_FOLDING 1
#endif

namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;  // 0x04C11DB7 reflected

// Sixteen tables for slicing-by-16: table k gives the sum of a byte followed by k
// zero bytes, so sixteen bytes are folded in with independent lookups rather than a
// chain of sixteen. Measured under Wine on the build machine, 100 MB take about 36 ms
// this way against 57 ms with eight tables; folding with carry-less multiplication
// (below), where the processor has it, is faster still. The 16 KB of tables are built
// at compile time.
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

// The table-driven sum over the running (inverted) state.
std::uint32_t TableState(const unsigned char* p, std::size_t size, std::uint32_t crc) {
  for (; size >= 16; size -= 16, p += 16) {
    const std::uint32_t a = ReadLe32(p) ^ crc, b = ReadLe32(p + 4), c = ReadLe32(p + 8), d = ReadLe32(p + 12);
    crc = kTables[15][a & 0xFFu] ^ kTables[14][a >> 8 & 0xFFu] ^ kTables[13][a >> 16 & 0xFFu] ^
          kTables[12][a >> 24] ^ kTables[11][b & 0xFFu] ^ kTables[10][b >> 8 & 0xFFu] ^
          kTables[9][b >> 16 & 0xFFu] ^ kTables[8][b >> 24] ^ kTables[7][c & 0xFFu] ^ kTables[6][c >> 8 & 0xFFu] ^
          kTables[5][c >> 16 & 0xFFu] ^ kTables[4][c >> 24] ^ kTables[3][d & 0xFFu] ^ kTables[2][d >> 8 & 0xFFu] ^
          kTables[1][d >> 16 & 0xFFu] ^ kTables[0][d >> 24];
  }
  for (; size > 0; --size, ++p) crc = (crc >> 8) ^ kTables[0][(crc ^ *p) & 0xFFu];
  return crc;
}

#if VELMORIX_CRC_FOLDING
bool FoldingAvailable() { return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1"); }

// The running state over `size` bytes (at least 64, a multiple of 16) by folding with
// carry-less multiplication, after Intel's "Fast CRC Computation for Generic
// Polynomials Using PCLMULQDQ Instruction": four 128-bit lanes are folded 64 bytes
// at a time, then into one lane, to 64 bits, and reduced to 32 (Barrett). The
// constants are powers of x modulo the polynomial, bit-reflected.
#define VELMORIX_FOLDING_TARGET __attribute__((target("pclmul,sse4.1")))

VELMORIX_FOLDING_TARGET inline __m128i Load(const void* at) { return _mm_loadu_si128(static_cast<const __m128i*>(at)); }

// One lane folded over the next 128 bits by the constants k.
VELMORIX_FOLDING_TARGET inline __m128i FoldLane(__m128i lane, __m128i next, __m128i k) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(lane, k, 0x11), next), _mm_clmulepi64_si128(lane, k, 0x00));
}

VELMORIX_FOLDING_TARGET std::uint32_t FoldedState(const unsigned char* p, std::size_t size, std::uint32_t crc) {
  alignas(16) static const std::uint64_t kFold4[2] = {0x0154442bd4u, 0x01c6e41596u};
  alignas(16) static const std::uint64_t kFold1[2] = {0x01751997d0u, 0x00ccaa009eu};
  alignas(16) static const std::uint64_t kFold64[2] = {0x0163cd6124u, 0};
  alignas(16) static const std::uint64_t kBarrett[2] = {0x01db710641u, 0x01f7011641u};

  __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x2 = Load(p + 16);
  __m128i x3 = Load(p + 32);
  __m128i x4 = Load(p + 48);
  p += 64;
  size -= 64;
  __m128i k = Load(kFold4);
  for (; size >= 64; p += 64, size -= 64) {
    x1 = FoldLane(x1, Load(p), k);
    x2 = FoldLane(x2, Load(p + 16), k);
    x3 = FoldLane(x3, Load(p + 32), k);
    x4 = FoldLane(x4, Load(p + 48), k);
  }
  k = Load(kFold1);
  x1 = FoldLane(FoldLane(FoldLane(x1, x2, k), x3, k), x4, k);
  for (; size >= 16; p += 16, size -= 16) x1 = FoldLane(x1, Load(p), k);

  // 128 bits to 64, then the Barrett reduction to 32.
  const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k, 0x10));
  k = _mm_loadl_epi64(static_cast<const __m128i*>(static_cast<const void*>(kFold64)));
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k, 0x00), _mm_srli_si128(x1, 4));
  k = Load(kBarrett);
  __m128i quotient = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k, 0x10);
  quotient = _mm_clmulepi64_si128(_mm_and_si128(quotient, low32), k, 0x00);
  x1 = _mm_xor_si128(x1, quotient);
  return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}
#endif

}  // namespace

std::uint32_t Crc32ByTable(const void* data, std::size_t size, std::uint32_t crc) {
  return ~TableState(static_cast<const unsigned char*>(data), size, ~crc);
}

std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t crc) {
  const auto* p = static_cast<const unsigned char*>(data);
  crc = ~crc;
#if VELMORIX_CRC_FOLDING
  if (size >= 64 && FoldingAvailable()) {
    const std::size_t folded = size & ~std::size_t{15};
    crc = FoldedState(p, folded, crc);
    p += folded;
    size -= folded;
  }
#endif
  return ~TableState(p, size, crc);
}

void EncodePayloadChecksums(std::uint32_t program, std::uint32_t work, unsigned char out[kPayloadChecksumSize]) {
  WriteLe(program, 4, out);
  WriteLe(work, 4, out + 4);
}

bool PayloadChecksumsMatch(const void* sums, std::size_t sumsSize, const void* program, std::size_t programSize,
                           const void* work, std::size_t workSize) {
  if (sums == nullptr || sumsSize != kPayloadChecksumSize) return false;
  const auto* stored = static_cast<const unsigned char*>(sums);
  return ReadLe32(stored) == Crc32(program, programSize) && ReadLe32(stored + 4) == Crc32(work, workSize);
}
