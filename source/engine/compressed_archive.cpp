#include "engine/compressed_archive.h"

#include "shared/little_endian.h"

namespace {

// The entries' sizes are not bounded by the archive's own size, as in the stored form;
// this bound only keeps their sum far from overflowing.
constexpr std::uint64_t kMaxContentBytes = std::uint64_t{1} << 48;

}  // namespace

std::uint64_t FramesForEntry(std::uint64_t size, std::uint32_t frameSize) {
  return size / frameSize + (size % frameSize != 0 ? 1 : 0);
}

ArchiveError ValidateCompressedArchive(const unsigned char* base, std::size_t size, ArchiveView* view,
                                       std::int32_t* failedEntry) {
  if (failedEntry) *failedEntry = -1;
  if (size < kCompressedHeaderSize) return ArchiveError::TooSmall;
  if (ReadLe32(base + 4) != kCompressedArchiveVersion || ReadLe32(base + 20) != 0)
    return ArchiveError::UnknownVersion;
  const std::uint32_t rawCount = ReadLe32(base + 8);
  if (rawCount > 0x7FFFFFFFu) return ArchiveError::NegativeCount;
  const auto count = static_cast<std::int32_t>(rawCount);
  const std::uint32_t frameSize = ReadLe32(base + 12);
  const std::uint32_t frameCount = ReadLe32(base + 16);
  if (frameSize < kMinFrameSize || frameSize > kMaxFrameSize) return ArchiveError::BadFrameLayout;

  const std::size_t available = size - kCompressedHeaderSize;
  if (static_cast<std::uint64_t>(count) * kPayloadEntrySize > available) return ArchiveError::TableOverrun;
  const std::size_t frameTableOffset = kCompressedHeaderSize + static_cast<std::size_t>(count) * kPayloadEntrySize;
  if (static_cast<std::uint64_t>(frameCount) * 4 > size - frameTableOffset) return ArchiveError::TableOverrun;
  const std::size_t dataOffset = frameTableOffset + static_cast<std::size_t>(frameCount) * 4;

  std::uint64_t dataBytes = 0;
  const ArchiveError tableError =
      ValidatePayloadTable(base + kCompressedHeaderSize, count, kMaxContentBytes, &dataBytes, failedEntry);
  if (tableError != ArchiveError::None) return tableError;

  std::uint64_t frames = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    const unsigned char* record = base + kCompressedHeaderSize + static_cast<std::size_t>(i) * kPayloadEntrySize;
    frames += FramesForEntry(ReadLe64(record + 2 * kPayloadTextSize), frameSize);
  }
  if (frames != frameCount) return ArchiveError::BadFrameLayout;

  // The frames fill the rest exactly; none is empty (a zstd frame has a header).
  std::uint64_t remaining = size - dataOffset;
  for (std::uint32_t f = 0; f < frameCount; ++f) {
    const std::uint32_t length = ReadLe32(base + frameTableOffset + static_cast<std::size_t>(f) * 4);
    if (length == 0) return ArchiveError::BadFrameLayout;
    if (length > remaining) return ArchiveError::DataOverrun;
    remaining -= length;
  }
  if (remaining != 0) return ArchiveError::TrailingBytes;

  if (view) {
    *view = MakeArchiveView(base, size, count, kCompressedHeaderSize, dataOffset, dataBytes);
    view->compressed = true;
    view->frameSize = frameSize;
    view->frameCount = frameCount;
    view->frameTableOffset = frameTableOffset;
  }
  return ArchiveError::None;
}

void ListCompressedFrames(const ArchiveView& view, CompressedFrame* frames) {
  if (!view.compressed) return;
  std::size_t offset = view.dataOffset;
  std::size_t f = 0;
  for (std::int32_t i = 0; i < view.count; ++i) {
    std::uint64_t left = ReadPayloadEntry(view, i).size;
    while (left > 0) {
      CompressedFrame frame;
      frame.offset = offset;
      frame.compressedSize = ReadLe32(view.base + view.frameTableOffset + f * 4);
      frame.contentSize = static_cast<std::uint32_t>(left < view.frameSize ? left : view.frameSize);
      frames[f] = frame;
      offset += frame.compressedSize;
      left -= frame.contentSize;
      ++f;
    }
  }
}
