#include "engine/frame_decoder.h"

#define ZSTD_STATIC_LINKING_ONLY  // the decoder's switch for the content checksum
#include <zstd.h>

#include "engine/compressed_archive.h"
#include "engine/frame_checksum.h"

namespace {

// log2 of kMaxFrameSize: a frame is decoded whole into its buffer, so its window
// never needs to be larger.
constexpr int kMaxWindowLog = 23;
static_assert(kMaxFrameSize == 1u << kMaxWindowLog, "the window bound follows the frame bound");

}  // namespace

FrameDecoder::FrameDecoder() : context_(ZSTD_createDCtx()) {
  // The content checksum is checked here after the frame (ContentChecksumHolds), in
  // less time on i686 than the library's own check takes.
  if (context_ != nullptr && (ZSTD_isError(ZSTD_DCtx_setParameter(context_, ZSTD_d_windowLogMax, kMaxWindowLog)) ||
                              ZSTD_isError(ZSTD_DCtx_setParameter(context_, ZSTD_d_forceIgnoreChecksum, 1)))) {
    ZSTD_freeDCtx(context_);
    context_ = nullptr;
  }
}

FrameDecoder::~FrameDecoder() { ZSTD_freeDCtx(context_); }

bool FrameDecoder::Decode(const void* source, std::size_t sourceSize, void* target, std::size_t contentSize) {
  if (context_ == nullptr) return false;
  // A zstd frame: its 4-byte magic number, then the frame header's descriptor byte,
  // whose bit 2 says that a content checksum follows the last block.
  const auto* bytes = static_cast<const unsigned char*>(source);
  if (sourceSize < 5 || bytes[0] != 0x28 || bytes[1] != 0xB5 || bytes[2] != 0x2F || bytes[3] != 0xFD) return false;
  if ((bytes[4] & 0x04) == 0) return false;
  if (ZSTD_getFrameContentSize(source, sourceSize) != contentSize) return false;
  if (ZSTD_findFrameCompressedSize(source, sourceSize) != sourceSize) return false;
  const std::size_t decoded = ZSTD_decompressDCtx(context_, target, contentSize, source, sourceSize);
  return !ZSTD_isError(decoded) && decoded == contentSize &&
         ContentChecksumHolds(source, sourceSize, target, contentSize);
}
