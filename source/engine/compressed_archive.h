// The compressed form of a payload archive. It carries the same entries as the stored
// form, and each entry's bytes as independent zstd frames, so that several threads
// can decode while the files are written in order. Portable: no <windows.h>, and no
// codec either (engine/frame_decoder.h decodes a frame).
//
// Layout (little-endian):
//   0   4          tag "VXZ" 0xFA: read as a stored archive's count it is negative,
//                  so neither form can be taken for the other
//   4   4          format version, 1
//   8   4          entry count N (signed, 0 or more)
//   12  4          frame size S: every entry's data is cut into frames of S bytes, the
//                  last frame of an entry shorter; an empty entry has no frame
//   16  4          frame count F, the sum over the entries of ceil(size / S)
//   20  4          zero
//   24  528 * N    the entry table, as in the stored form
//   ... 4 * F      each frame's compressed length, in order
//   ...            the frames back to back, and nothing after them
// Each frame is one zstd frame that records its content size and content checksum.
#pragma once
#include <cstddef>
#include <cstdint>

#include "engine/archive_reader.h"

constexpr unsigned char kCompressedArchiveTag[kPayloadHeaderSize] = {'V', 'X', 'Z', 0xFA};
constexpr std::uint32_t kCompressedArchiveVersion = 1;
constexpr std::size_t kCompressedHeaderSize = 24;
// Frames of at least 64 KiB and at most 8 MiB: the bound on what one decoding thread
// holds, and so on the installer's memory.
constexpr std::uint32_t kMinFrameSize = 64 * 1024;
constexpr std::uint32_t kMaxFrameSize = 8 * 1024 * 1024;

// Checks a compressed archive (the tag already matched): header, entry table as in
// ValidateArchive, a frame count that fits the entries, frame lengths that add up to
// the rest of the archive exactly. The frames' contents are checked as they are
// decoded. Called by ValidateArchive.
ArchiveError ValidateCompressedArchive(const unsigned char* base, std::size_t size, ArchiveView* view,
                                       std::int32_t* failedEntry);

// One frame of a validated compressed archive.
struct CompressedFrame {
  std::size_t offset = 0;           // of its first byte in the archive
  std::uint32_t compressedSize = 0;
  std::uint32_t contentSize = 0;    // bytes it decodes to
};

// Every frame of a validated compressed archive, in the order of the entries' data,
// into frames[0 .. view.frameCount).
void ListCompressedFrames(const ArchiveView& view, CompressedFrame* frames);

// The number of frames an entry of `size` bytes takes.
std::uint64_t FramesForEntry(std::uint64_t size, std::uint32_t frameSize);
