#include "engine/payload_checksum.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The textbook bit-at-a-time CRC-32 (reflected 0x04C11DB7), against which both ways
// of the fast one (folding where the processor can, tables) are checked at every
// length and alignment their loops treat apart.
std::uint32_t BitwiseCrc32(const unsigned char* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

TEST(PayloadChecksum, Crc32MatchesZlibsValuesAtEveryLengthAndAlignment) {
  // Published check values of CRC-32/ISO-HDLC, the sum zlib's crc32 gives.
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32("", 0), 0u);
  EXPECT_EQ(Crc32("The quick brown fox jumps over the lazy dog", 43), 0x414FA339u);

  std::vector<unsigned char> bytes(300);
  std::uint32_t x = 12345;
  for (unsigned char& b : bytes) b = static_cast<unsigned char>((x = x * 1103515245u + 12345u) >> 24);
  for (std::size_t offset = 0; offset < 16; ++offset) {
    for (std::size_t size = 0; offset + size <= bytes.size(); size += 7) {
      const unsigned char* data = bytes.data() + offset;
      ASSERT_EQ(Crc32(data, size), BitwiseCrc32(data, size)) << offset << "+" << size;
      ASSERT_EQ(Crc32ByTable(data, size), BitwiseCrc32(data, size)) << offset << "+" << size;
      // A sum taken in two pieces equals the sum of the whole.
      const std::size_t split = size / 3;
      ASSERT_EQ(Crc32(data + split, size - split, Crc32(data, split)), BitwiseCrc32(data, size)) << split;
      ASSERT_EQ(Crc32ByTable(data + split, size - split, Crc32(data, split)), BitwiseCrc32(data, size)) << split;
    }
  }
}

TEST(PayloadChecksum, ResourceHoldsBothSumsLittleEndianAndNothingElse) {
  const std::string program = "program archive bytes";
  const std::string work = "work archive";
  unsigned char sums[kPayloadChecksumSize];
  EncodePayloadChecksums(0x11223344u, 0xA1B2C3D4u, sums);
  EXPECT_EQ(std::vector<unsigned char>(sums, sums + 8),
            (std::vector<unsigned char>{0x44, 0x33, 0x22, 0x11, 0xD4, 0xC3, 0xB2, 0xA1}));

  EncodePayloadChecksums(Crc32(program.data(), program.size()), Crc32(work.data(), work.size()), sums);
  EXPECT_TRUE(PayloadChecksumsMatch(sums, 8, program.data(), program.size(), work.data(), work.size()));
  EXPECT_FALSE(PayloadChecksumsMatch(sums, 8, work.data(), work.size(), program.data(), program.size()));
  EXPECT_FALSE(PayloadChecksumsMatch(sums, 7, program.data(), program.size(), work.data(), work.size()));
  EXPECT_FALSE(PayloadChecksumsMatch(nullptr, 8, program.data(), program.size(), work.data(), work.size()));
  std::string flipped = work;
  flipped[5] ^= 0x01;  // one bit of one byte
  EXPECT_FALSE(PayloadChecksumsMatch(sums, 8, program.data(), program.size(), flipped.data(), flipped.size()));
  unsigned char longer[9] = {};
  std::memcpy(longer, sums, 8);
  EXPECT_FALSE(PayloadChecksumsMatch(longer, 9, program.data(), program.size(), work.data(), work.size()));
}

}  // namespace
