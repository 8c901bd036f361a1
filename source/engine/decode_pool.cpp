#include "engine/decode_pool.h"

#include "engine/frame_decoder.h"

namespace {

// Holds an SRW lock for one scope.
class Locked {
 public:
  explicit Locked(SRWLOCK* lock) : lock_(lock) { AcquireSRWLockExclusive(lock_); }
  ~Locked() { ReleaseSRWLockExclusive(lock_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  SRWLOCK* lock_;
};

}  // namespace

DecodePool::~DecodePool() {
  {
    Locked held(&lock_);
    stopping_ = true;
  }
  WakeAllConditionVariable(&slotFreed_);
  WakeAllConditionVariable(&frameDone_);
  for (unsigned t = 0; t < threadCount_; ++t) WaitForSingleObject(threads_[t].Get(), INFINITE);
}

unsigned DecodePool::DefaultThreads() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const unsigned cores = info.dwNumberOfProcessors;
  return cores == 0 ? 1 : (cores > kMaxThreads ? kMaxThreads : cores);
}

bool DecodePool::Start(unsigned threads, unsigned startNow) {
  const std::size_t frameCount = archive_.frameCount;
  if (frameCount == 0) return true;
  frames_.Reset(LocalAlloc(LMEM_FIXED, frameCount * sizeof(CompressedFrame)));
  if (!frames_) return false;
  ListCompressedFrames(archive_, static_cast<CompressedFrame*>(frames_.Get()));

  if (threads == 0) threads = 1;
  if (threads > kMaxThreads) threads = kMaxThreads;
  if (threads > frameCount) threads = static_cast<unsigned>(frameCount);
  std::size_t largest = 0;
  for (std::size_t f = 0; f < frameCount; ++f)
    if (Frame(f).contentSize > largest) largest = Frame(f).contentSize;
  slotCount_ = 2 * static_cast<std::size_t>(threads);
  if (slotCount_ > frameCount) slotCount_ = frameCount;
  for (std::size_t s = 0; s < slotCount_; ++s) {
    slots_[s].buffer.Reset(LocalAlloc(LMEM_FIXED, largest));
    if (!slots_[s].buffer) return false;
    slots_[s].frame = s;
  }
  threadLimit_ = threads;
  return StartThreads(startNow == 0 ? 1 : startNow);
}

bool DecodePool::Widen() { return StartThreads(threadLimit_); }

bool DecodePool::StartThreads(unsigned count) {
  for (unsigned t = threadCount_; t < count && t < threadLimit_; ++t) {
    threads_[t].Reset(CreateThread(nullptr, 0, &DecodePool::ThreadMain, this, 0, nullptr));
    if (!threads_[t]) return false;
    threadCount_ = t + 1;
  }
  return true;
}

DWORD WINAPI DecodePool::ThreadMain(void* pool) {
  static_cast<DecodePool*>(pool)->Run();
  return 0;
}

void DecodePool::Run() {
  FrameDecoder decoder;
  for (;;) {
    std::size_t index = 0;
    Slot* slot = nullptr;
    {
      Locked held(&lock_);
      if (stopping_ || next_ >= archive_.frameCount) return;
      index = next_++;
      slot = &slots_[index % slotCount_];
      // The slot may still hold the frame slotCount_ before this one.
      while (!stopping_ && slot->frame != index) SleepConditionVariableSRW(&slotFreed_, &lock_, INFINITE, 0);
      if (stopping_) return;
      slot->state = SlotState::Decoding;
    }
    const CompressedFrame& frame = Frame(index);
    const bool decoded = decoder.Ready() && decoder.Decode(archive_.base + frame.offset, frame.compressedSize,
                                                           slot->buffer.Get(), frame.contentSize);
    {
      Locked held(&lock_);
      slot->state = decoded ? SlotState::Ready : SlotState::Failed;
    }
    WakeAllConditionVariable(&frameDone_);
  }
}

bool DecodePool::Acquire(std::size_t index, const unsigned char** data, std::size_t* length) {
  if (index >= archive_.frameCount || slotCount_ == 0) return false;
  Slot& slot = slots_[index % slotCount_];
  Locked held(&lock_);
  while (!stopping_ && !(slot.frame == index && (slot.state == SlotState::Ready || slot.state == SlotState::Failed)))
    SleepConditionVariableSRW(&frameDone_, &lock_, INFINITE, 0);
  if (stopping_ || slot.state != SlotState::Ready) return false;
  *data = static_cast<const unsigned char*>(slot.buffer.Get());
  *length = Frame(index).contentSize;
  return true;
}

void DecodePool::Release(std::size_t index) {
  if (slotCount_ == 0) return;
  {
    Locked held(&lock_);
    Slot& slot = slots_[index % slotCount_];
    slot.frame = index + slotCount_;
    slot.state = SlotState::Free;
  }
  WakeAllConditionVariable(&slotFreed_);
}
