// libFuzzer target for the payload archive reader, both forms: whatever the bytes,
// validation stays inside the buffer, and an archive it accepts can be walked entry
// by entry with every entry's data inside the archive and the data ending exactly at
// its end. For a compressed archive the frames take the place of the data: each lies
// inside the archive, they end exactly at its end, and decoding one never writes
// past its content size nor accepts other bytes than the frame's.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/archive_reader.h"
#include "engine/payload_archive.h"
#include "engine/compressed_archive.h"
#include "engine/frame_decoder.h"

namespace {

volatile unsigned char g_sink;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

// Frames claiming more than this are placed but not decoded: the inputs are small.
constexpr std::uint32_t kLargestDecodedFrame = 1 << 20;

void WalkFrames(const ArchiveView& view, const std::uint8_t* data, std::size_t size) {
  Require(view.compressed && view.frameSize >= kMinFrameSize && view.frameSize <= kMaxFrameSize);
  Require(view.dataOffset == view.frameTableOffset + std::size_t{4} * view.frameCount);
  std::vector<CompressedFrame> frames(view.frameCount);
  ListCompressedFrames(view, frames.data());
  Require(frames.size() == view.frameCount);
  std::uint64_t offset = view.dataOffset;
  std::uint64_t content = 0;
  static FrameDecoder decoder;
  for (const CompressedFrame& frame : frames) {
    Require(frame.offset == offset && frame.compressedSize > 0 && frame.compressedSize <= size - offset);
    Require(frame.contentSize > 0 && frame.contentSize <= view.frameSize);
    if (frame.contentSize <= kLargestDecodedFrame) {
      std::vector<unsigned char> target(frame.contentSize);
      if (decoder.Decode(data + frame.offset, frame.compressedSize, target.data(), target.size()))
        g_sink = static_cast<unsigned char>(g_sink + target.back());
    }
    offset += frame.compressedSize;
    content += frame.contentSize;
  }
  Require(offset == size && content == view.dataBytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ArchiveView view;
  std::int32_t failedEntry = -2;
  const ArchiveError error = ValidateArchive(data, size, &view, &failedEntry);
  Require(ArchiveErrorText(error) != nullptr);
  if (error != ArchiveError::None) {
    Require(failedEntry >= -1);
    return 0;
  }
  Require(failedEntry == -1);
  Require(view.base == data && view.size == size && view.count >= 0);
  if (view.compressed) {
    WalkFrames(view, data, size);
    return 0;
  }
  Require(view.dataOffset == kPayloadHeaderSize + static_cast<std::size_t>(view.count) * kPayloadEntrySize);

  std::uint64_t offset = view.dataOffset;
  unsigned char sum = 0;
  for (std::int32_t i = 0; i < view.count; ++i) {
    const PayloadEntry entry = ReadPayloadEntry(view, i);
    const char* name = PayloadFileName(entry);
    Require(name >= entry.sourcePath && name < entry.sourcePath + kPayloadTextSize);
    Require(PayloadNameIsSafe(name, name + std::strlen(name)));
    Require(entry.relativeFolder[0] == '\\' && std::strstr(entry.relativeFolder, "..\\") == nullptr);
    Require(entry.size <= size - offset);
    // Touch every byte of the entry's data: the sanitizer catches any read past the buffer.
    for (std::uint64_t k = 0; k < entry.size; ++k) sum = static_cast<unsigned char>(sum + data[offset + k]);
    offset += entry.size;
  }
  Require(offset == size);
  g_sink = sum;
  return 0;
}
