#include "engine/entry_data.h"

#include <windows.h>

bool EntryData::Start(bool ahead) {
  if (!archive_.compressed) {
    span_ = archive_.base + archive_.dataOffset;
    left_ = archive_.size - archive_.dataOffset;
    return true;
  }
  // The decoder is built for processors with SSE2 (every x86 processor since 2003);
  // on an older one the payload counts as one that cannot be loaded.
  if (!IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE)) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  return pool_.Start(DecodePool::DefaultThreads(), ahead ? 1 : DecodePool::kMaxThreads);
}

bool EntryData::Next(const unsigned char** data, std::size_t* length) {
  if (left_ == 0 && archive_.compressed) {
    if (holding_) pool_.Release(frame_++);
    holding_ = pool_.Acquire(frame_, &span_, &left_);
    if (!holding_) left_ = 0;
  }
  *data = span_;
  *length = left_;
  return left_ > 0;
}

void EntryData::Consume(std::size_t length) {
  if (length > left_) length = left_;
  span_ += length;
  left_ -= length;
}
