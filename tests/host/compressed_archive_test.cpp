#include "engine/compressed_archive.h"
#include "engine/payload_archive.h"

#include <gtest/gtest.h>
#include <zstd.h>

#include <string>
#include <vector>

#include "engine/frame_checksum.h"
#include "engine/frame_decoder.h"
#include "shared/little_endian.h"
#include "support/payload_archive.h"
#include "packer/archive_compressor.h"

namespace {

using testsupport::StoredArchive;
using testsupport::PutLe;

constexpr std::uint32_t kSmallFrames = kMinFrameSize;

// Bytes that compress a little but not to nothing, different per seed.
std::string Content(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    bytes[i] = static_cast<char>((i % 7 == 0) ? (state >> 24) : "velmorix"[i % 8]);
  }
  return bytes;
}

// A stored archive of three entries: one of three and a half small frames, an empty
// one, and a short one.
std::vector<unsigned char> Stored(std::string* data) {
  const std::string big = Content(3 * kSmallFrames + kSmallFrames / 2, 1);
  const std::string small = Content(100, 2);
  *data = big + small;
  return StoredArchive({{"Z:\\b\\big.dll", "\\", big.size()}, {"Z:\\b\\sub\\empty.txt", "\\sub\\", 0},
                  {"Z:\\b\\small.txt", "\\sub\\", small.size()}},
                 *data);
}

std::vector<unsigned char> Compressed(const std::vector<unsigned char>& stored, unsigned threads = 1) {
  std::vector<unsigned char> out;
  std::string error;
  CompressionSettings settings;
  settings.frameSize = kSmallFrames;
  settings.threads = threads;
  EXPECT_TRUE(CompressArchive(stored, &out, &error, settings)) << error;
  return out;
}

// Every frame decoded in order, one after another.
bool DecodeAll(const ArchiveView& view, std::string* content) {
  FrameDecoder decoder;
  content->clear();
  std::vector<CompressedFrame> frames(view.frameCount);
  ListCompressedFrames(view, frames.data());
  for (const CompressedFrame& frame : frames) {
    std::string piece(frame.contentSize, '\0');
    if (!decoder.Decode(view.base + frame.offset, frame.compressedSize, &piece[0], piece.size())) return false;
    *content += piece;
  }
  return true;
}

TEST(CompressedArchive, CarriesTheStoredEntriesAndDecodesToTheirBytes) {
  std::string data;
  const auto stored = Stored(&data);
  const auto compressed = Compressed(stored);
  ArchiveView view;
  ASSERT_EQ(ValidateArchive(compressed.data(), compressed.size(), &view), ArchiveError::None);
  EXPECT_TRUE(view.compressed);
  EXPECT_EQ(view.count, 3);
  EXPECT_EQ(view.frameCount, 5u) << "four frames for 3.5 frame sizes, none for the empty entry, one more";
  EXPECT_EQ(view.dataBytes, data.size());
  EXPECT_LT(compressed.size(), stored.size());
  EXPECT_STREQ(ReadPayloadEntry(view, 2).relativeFolder, "\\sub\\");
  EXPECT_EQ(ReadPayloadEntry(view, 2).size, 100u);
  std::vector<CompressedFrame> frames(view.frameCount);
  ListCompressedFrames(view, frames.data());
  ASSERT_EQ(frames.size(), 5u);
  EXPECT_EQ(frames[3].contentSize, kSmallFrames / 2);
  EXPECT_EQ(frames[4].contentSize, 100u);
  std::string decoded;
  ASSERT_TRUE(DecodeAll(view, &decoded));
  EXPECT_EQ(decoded, data);
}

TEST(CompressedArchive, SameBytesWhateverTheThreadsAndNeitherFormTakenForTheOther) {
  std::string data;
  const auto stored = Stored(&data);
  const auto once = Compressed(stored, 1);
  EXPECT_EQ(Compressed(stored, 3), once);
  EXPECT_EQ(Compressed(stored, 8), once);
  // The tag reads as a negative count: a reader of the stored form alone refuses it.
  EXPECT_EQ(static_cast<std::int32_t>(ReadLe32(once.data())) < 0, true);
  std::vector<unsigned char> again;
  std::string error;
  EXPECT_FALSE(CompressArchive(once, &again, &error));
  EXPECT_NE(error.find("compressed already"), std::string::npos) << error;
  EXPECT_FALSE(CompressArchive({1, 0, 0}, &again, &error));
}

// One field of the header or the frame table changed: the layout no longer fits.
TEST(CompressedArchive, RefusesHeadersAndFrameTablesThatDoNotFitTheEntries) {
  std::string data;
  const auto good = Compressed(Stored(&data));
  ArchiveView view;
  ASSERT_EQ(ValidateArchive(good.data(), good.size(), &view), ArchiveError::None);
  const auto with = [&](std::size_t at, std::uint64_t value) {
    auto bytes = good;
    PutLe(&bytes, at, value, 4);
    return ValidateArchive(bytes.data(), bytes.size(), nullptr);
  };
  EXPECT_EQ(with(4, 2), ArchiveError::UnknownVersion);
  EXPECT_EQ(with(20, 1), ArchiveError::UnknownVersion);
  EXPECT_EQ(with(8, 0x80000000u), ArchiveError::NegativeCount);
  EXPECT_EQ(with(8, 0x10000), ArchiveError::TableOverrun);
  EXPECT_NE(with(8, 4), ArchiveError::None) << "a fourth entry would read the frame table as one";
  EXPECT_EQ(with(12, kMinFrameSize - 1), ArchiveError::BadFrameLayout);
  EXPECT_EQ(with(12, kMaxFrameSize + 1), ArchiveError::BadFrameLayout);
  EXPECT_EQ(with(12, 2 * kSmallFrames), ArchiveError::BadFrameLayout) << "fewer frames than five would be";
  EXPECT_EQ(with(16, 4), ArchiveError::BadFrameLayout);
  EXPECT_EQ(with(16, 0x40000000u), ArchiveError::TableOverrun);
  const std::size_t firstLength = view.frameTableOffset;
  EXPECT_EQ(with(firstLength, 0), ArchiveError::BadFrameLayout);
  EXPECT_EQ(with(firstLength, good.size()), ArchiveError::DataOverrun);
  EXPECT_EQ(with(firstLength, ReadLe32(good.data() + firstLength) - 1), ArchiveError::TrailingBytes);
  auto longer = good;
  longer.push_back(0);
  EXPECT_EQ(ValidateArchive(longer.data(), longer.size(), nullptr), ArchiveError::TrailingBytes);
  auto cut = good;
  cut.resize(kCompressedHeaderSize - 1);
  EXPECT_EQ(ValidateArchive(cut.data(), cut.size(), nullptr), ArchiveError::TooSmall);
  // The entry table is held to the stored form's rules.
  auto unsafe = good;
  unsafe[kCompressedHeaderSize + 260] = 'x';  // the first relative folder no longer begins with a backslash
  std::int32_t failed = -1;
  EXPECT_EQ(ValidateArchive(unsafe.data(), unsafe.size(), nullptr, &failed), ArchiveError::BadRelativeFolder);
  EXPECT_EQ(failed, 0);
}

TEST(FrameDecoder, AcceptsOnlyOneWholeFrameOfTheExpectedSizeWithAChecksumThatHolds) {
  const std::string content = Content(5000, 3);
  std::vector<unsigned char> frame(ZSTD_compressBound(content.size()));
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ASSERT_NE(context, nullptr);
  const auto compress = [&](int checksum) {
    ZSTD_CCtx_reset(context, ZSTD_reset_session_and_parameters);
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, checksum);
    const std::size_t length = ZSTD_compress2(context, frame.data(), frame.size(), content.data(), content.size());
    return std::vector<unsigned char>(frame.begin(), frame.begin() + static_cast<long>(length));
  };
  const auto checked = compress(1);
  const auto unchecked = compress(0);
  ZSTD_freeCCtx(context);

  FrameDecoder decoder;
  ASSERT_TRUE(decoder.Ready());
  std::string out(content.size(), '\0');
  ASSERT_TRUE(decoder.Decode(checked.data(), checked.size(), &out[0], out.size()));
  EXPECT_EQ(out, content);
  EXPECT_FALSE(decoder.Decode(unchecked.data(), unchecked.size(), &out[0], out.size())) << "no content checksum";
  EXPECT_FALSE(decoder.Decode(checked.data(), checked.size(), &out[0], out.size() - 1)) << "another size";
  EXPECT_FALSE(decoder.Decode(checked.data(), checked.size() - 1, &out[0], out.size())) << "cut short";
  auto twice = checked;
  twice.insert(twice.end(), checked.begin(), checked.end());
  EXPECT_FALSE(decoder.Decode(twice.data(), twice.size(), &out[0], out.size())) << "bytes after the frame";
  // Any byte after the frame header changed, each of the checksum's four among them:
  // a block or the checksum no longer holds.
  for (std::size_t at = 6; at < checked.size(); at += (at + 8 < checked.size() ? 7 : 1)) {
    auto damaged = checked;
    damaged[at] ^= 0x04;
    EXPECT_FALSE(decoder.Decode(damaged.data(), damaged.size(), &out[0], out.size())) << "byte " << at;
  }
  EXPECT_TRUE(decoder.Decode(checked.data(), checked.size(), &out[0], out.size())) << "the context is reusable";
}

// The checksum zstd records in a frame, for contents that end at every offset within
// the hash's 32-byte stripes and its 8- and 4-byte tails, from any alignment.
TEST(FrameChecksum, IsTheOneZstdRecords) {
  const std::string content = Content(70000, 9);
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ASSERT_NE(context, nullptr);
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
  std::vector<unsigned char> frame(ZSTD_compressBound(content.size()));
  for (const std::size_t size : {0, 1, 3, 4, 7, 8, 12, 31, 32, 33, 40, 63, 64, 65, 100, 1000, 4099, 70000}) {
    for (const std::size_t start : {0, 1, 5}) {
      if (start + size > content.size()) continue;
      const std::size_t length = ZSTD_compress2(context, frame.data(), frame.size(), content.data() + start, size);
      ASSERT_FALSE(ZSTD_isError(length));
      EXPECT_TRUE(ContentChecksumHolds(frame.data(), length, content.data() + start, size)) << size << " at " << start;
      if (size > 0) {
        EXPECT_FALSE(ContentChecksumHolds(frame.data(), length, content.data() + start, size - 1)) << size;
      }
    }
  }
  ZSTD_freeCCtx(context);
}

}  // namespace
