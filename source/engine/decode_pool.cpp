#include "engine/decode_pool.h"

#include <new>

#include "engine/frame_decoder.h"

namespace {

constexpr unsigned kMaxThreads = 4;

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

DecodePool::DecodePool(const ArchiveView& archive) : archive_(archive), frames_(ListCompressedFrames(archive)) {}

DecodePool::~DecodePool() {
  {
    Locked held(&lock_);
    stopping_ = true;
  }
  WakeAllConditionVariable(&slotFreed_);
  WakeAllConditionVariable(&frameDone_);
  for (UniqueHandle& thread : threads_) WaitForSingleObject(thread.Get(), INFINITE);
}

unsigned DecodePool::DefaultThreads() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const unsigned cores = info.dwNumberOfProcessors;
  return cores == 0 ? 1 : (cores > kMaxThreads ? kMaxThreads : cores);
}

bool DecodePool::Start(unsigned threads) {
  if (frames_.empty()) return true;
  if (threads == 0) threads = 1;
  if (threads > frames_.size()) threads = static_cast<unsigned>(frames_.size());
  std::size_t largest = 0;
  for (const CompressedFrame& frame : frames_)
    if (frame.contentSize > largest) largest = frame.contentSize;
  std::size_t slotCount = 2 * static_cast<std::size_t>(threads);
  if (slotCount > frames_.size()) slotCount = frames_.size();
  slots_.resize(slotCount);
  for (std::size_t s = 0; s < slotCount; ++s) {
    slots_[s].buffer.reset(new (std::nothrow) unsigned char[largest]);
    if (!slots_[s].buffer) return false;
    slots_[s].frame = s;
  }
  for (unsigned t = 0; t < threads; ++t) {
    UniqueHandle thread(CreateThread(nullptr, 0, &DecodePool::ThreadMain, this, 0, nullptr));
    if (!thread) return false;
    threads_.push_back(std::move(thread));
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
      if (stopping_ || next_ >= frames_.size()) return;
      index = next_++;
      slot = &slots_[index % slots_.size()];
      // The slot is still in use for the frame slots_.size() before this one.
      while (!stopping_ && slot->frame != index) SleepConditionVariableSRW(&slotFreed_, &lock_, INFINITE, 0);
      if (stopping_) return;
      slot->state = SlotState::Decoding;
    }
    const CompressedFrame& frame = frames_[index];
    const bool decoded = decoder.Ready() && decoder.Decode(archive_.base + frame.offset, frame.compressedSize,
                                                           slot->buffer.get(), frame.contentSize);
    {
      Locked held(&lock_);
      slot->state = decoded ? SlotState::Ready : SlotState::Failed;
    }
    WakeAllConditionVariable(&frameDone_);
  }
}

bool DecodePool::Acquire(std::size_t index, const unsigned char** data, std::size_t* length) {
  if (index >= frames_.size() || slots_.empty()) return false;
  Slot& slot = slots_[index % slots_.size()];
  Locked held(&lock_);
  while (!stopping_ && !(slot.frame == index && (slot.state == SlotState::Ready || slot.state == SlotState::Failed)))
    SleepConditionVariableSRW(&frameDone_, &lock_, INFINITE, 0);
  if (stopping_ || slot.state != SlotState::Ready) return false;
  *data = slot.buffer.get();
  *length = frames_[index].contentSize;
  return true;
}

void DecodePool::Release(std::size_t index) {
  if (slots_.empty()) return;
  {
    Locked held(&lock_);
    Slot& slot = slots_[index % slots_.size()];
    slot.frame = index + slots_.size();
    slot.state = SlotState::Free;
  }
  WakeAllConditionVariable(&slotFreed_);
}
