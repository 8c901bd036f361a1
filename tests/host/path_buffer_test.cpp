#include "shared/path_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(PathBuffer, CopyAndAppendComposeWithinCapacity) {
  char buffer[kPathCapacity];
  EXPECT_EQ(CopyPath(buffer, "C:\\Program Files"), PathResult::Ok);
  EXPECT_EQ(AppendPath(buffer, "\\Tarkweller\\Velmorix"), PathResult::Ok);
  EXPECT_STREQ(buffer, "C:\\Program Files\\Tarkweller\\Velmorix");
}

TEST(PathBuffer, OverlongResultIsCutTo259CharactersAndReported) {
  char buffer[kPathCapacity];
  const std::string long300(300, 'a');
  EXPECT_EQ(CopyPath(buffer, long300.c_str()), PathResult::BufferTooSmall);
  EXPECT_EQ(std::strlen(buffer), 259u);

  const std::string base(250, 'b');
  ASSERT_EQ(CopyPath(buffer, base.c_str()), PathResult::Ok);
  EXPECT_EQ(AppendPath(buffer, "\\0123456789"), PathResult::BufferTooSmall);
  EXPECT_EQ(std::string(buffer), base + "\\01234567");
  // Exactly 259 characters still fits.
  ASSERT_EQ(CopyPath(buffer, std::string(258, 'c').c_str()), PathResult::Ok);
  EXPECT_EQ(AppendPath(buffer, "d"), PathResult::Ok);
  EXPECT_EQ(std::strlen(buffer), 259u);
  EXPECT_EQ(AppendPath(buffer, ""), PathResult::Ok);
  EXPECT_EQ(AppendPath(buffer, "e"), PathResult::BufferTooSmall);
  EXPECT_EQ(std::strlen(buffer), 259u);
}

TEST(PathBuffer, AppendToUnterminatedBufferChangesNothing) {
  char buffer[kPathCapacity];
  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(AppendPath(buffer, "tail"), PathResult::InvalidArgument);
  for (char c : buffer) ASSERT_EQ(c, 'x');
  // Copy does not care what was there before.
  EXPECT_EQ(CopyPath(buffer, "new"), PathResult::Ok);
  EXPECT_STREQ(buffer, "new");
}

TEST(PathBuffer, SmallCapacityVariants) {
  char small[4];
  EXPECT_EQ(CopyText(small, sizeof(small), "abcdef"), PathResult::BufferTooSmall);
  EXPECT_STREQ(small, "abc");
  EXPECT_EQ(BoundedLength(small, sizeof(small)), 3u);
  char one[1];
  EXPECT_EQ(CopyText(one, 1, "x"), PathResult::BufferTooSmall);
  EXPECT_EQ(one[0], '\0');
}

}  // namespace
