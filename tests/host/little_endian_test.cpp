#include "shared/little_endian.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The byte order of the archives and checksums whatever the host's: the lowest byte
// first, every byte in its place, nothing written past the width.
TEST(LittleEndian, NumbersAreReadAndWrittenLowestByteFirst) {
  const unsigned char bytes[8] = {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x81};
  EXPECT_EQ(ReadLe16(bytes), 0x7788u);
  EXPECT_EQ(ReadLe32(bytes), 0x55667788u);
  EXPECT_EQ(ReadLe64(bytes), 0x8122334455667788ull);
  unsigned char out[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0xEE};
  WriteLe(0x8122334455667788ull, 8, out);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 8), std::string(reinterpret_cast<const char*>(bytes), 8));
  EXPECT_EQ(out[8], 0xEE);
  WriteLe(0xABCDu, 2, out + 6);
  EXPECT_EQ(ReadLe64(out), 0xABCD334455667788ull);
}

}  // namespace
