// Checksums of the payload archives: resource 111 holds the CRC-32 of archive 109
// and then that of archive 110, each as 4 little-endian bytes. The archives carry no
// checksum of their own; this one catches a byte damaged in transit, which passes
// every structural check of the reader. Portable: no <windows.h>.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr std::size_t kPayloadChecksumSize = 8;

// CRC-32 with the IEEE 802.3 polynomial, reflected, as zlib's crc32 computes it.
// `crc` is the sum of the bytes before these (0 to start), so a sum can be taken in
// pieces: Crc32(b, nb, Crc32(a, na)) == the sum of a followed by b.
// On x86 processors with carry-less multiplication (PCLMULQDQ) the bulk is folded
// with it; otherwise, and for the last bytes, sixteen tables are used.
std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t crc = 0);

// The same sum by the tables alone: what Crc32 falls back to.
std::uint32_t Crc32ByTable(const void* data, std::size_t size, std::uint32_t crc = 0);

// The 8 bytes of resource 111 for the given sums.
void EncodePayloadChecksums(std::uint32_t program, std::uint32_t work, unsigned char out[kPayloadChecksumSize]);

// Whether `sums` is exactly 8 bytes and holds the sums of both archives.
bool PayloadChecksumsMatch(const void* sums, std::size_t sumsSize, const void* program, std::size_t programSize,
                           const void* work, std::size_t workSize);
