// Decoding of one frame of a compressed payload archive (engine/compressed_archive.h)
// with the zstd library. Portable: no <windows.h>.
#pragma once
#include <cstddef>

struct ZSTD_DCtx_s;

// One decoding context. Each thread of the installer's decoding pool owns one; it
// refuses frames whose window exceeds the largest frame size.
class FrameDecoder {
 public:
  FrameDecoder();
  ~FrameDecoder();
  FrameDecoder(const FrameDecoder&) = delete;
  FrameDecoder& operator=(const FrameDecoder&) = delete;

  // False when the context could not be made (no memory).
  bool Ready() const { return context_ != nullptr; }

  // Decodes `source` (exactly one zstd frame of `sourceSize` bytes) into `target`,
  // which must receive exactly `contentSize` bytes. True only when the frame records
  // that content size and a content checksum, the checksum holds, and nothing of
  // `source` is left over.
  bool Decode(const void* source, std::size_t sourceSize, void* target, std::size_t contentSize);

 private:
  ZSTD_DCtx_s* context_;
};
