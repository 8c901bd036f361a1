// A few threads that decode the frames of a compressed payload archive ahead of the
// worker, which takes them strictly in order. Each frame is decoded into a slot as
// large as the archive's largest frame (at most 8 MiB); twice as many slots as
// threads bound what the pool holds, so a 32-bit process stays small.
#pragma once
#include <windows.h>

#include <cstddef>

#include "engine/archive_reader.h"
#include "engine/compressed_archive.h"
#include "shared/raii.h"

class DecodePool {
 public:
  static constexpr unsigned kMaxThreads = 4;

  explicit DecodePool(const ArchiveView& archive) : archive_(archive) {}
  // Stops the threads (each finishes the frame in hand) and waits for them.
  ~DecodePool();
  DecodePool(const DecodePool&) = delete;
  DecodePool& operator=(const DecodePool&) = delete;

  // Makes slots for `threads` threads (at least 1, at most kMaxThreads and no more
  // than there are frames) and starts `startNow` of them (at least 1, at most that),
  // Widen the rest. False when the frame list, a slot or a thread cannot be had.
  bool Start(unsigned threads, unsigned startNow);
  // Starts the threads Start held back. False when one cannot be had.
  bool Widen();

  // Waits for frame `index` (0, 1, 2, ... in turn) and hands out its bytes, valid until
  // Release(index). False when the frame did not decode to its size and checksum.
  bool Acquire(std::size_t index, const unsigned char** data, std::size_t* length);
  void Release(std::size_t index);

  // The processor's cores, at most kMaxThreads: beyond that the worker's writing is
  // the limit.
  static unsigned DefaultThreads();

 private:
  enum class SlotState { Free, Decoding, Ready, Failed };
  struct Slot {
    UniqueLocal buffer;
    std::size_t frame = 0;  // the frame this slot is for next, or holds
    SlotState state = SlotState::Free;
  };

  // Runs threads up to `count` of threadLimit_.
  bool StartThreads(unsigned count);
  static DWORD WINAPI ThreadMain(void* pool);
  void Run();
  const CompressedFrame& Frame(std::size_t index) const {
    return static_cast<const CompressedFrame*>(frames_.Get())[index];
  }

  const ArchiveView archive_;
  UniqueLocal frames_;  // archive_.frameCount CompressedFrame records
  Slot slots_[2 * kMaxThreads];
  std::size_t slotCount_ = 0;
  UniqueHandle threads_[kMaxThreads];
  unsigned threadCount_ = 0;  // running
  unsigned threadLimit_ = 0;  // what the slots are made for
  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE slotFreed_ = CONDITION_VARIABLE_INIT;
  CONDITION_VARIABLE frameDone_ = CONDITION_VARIABLE_INIT;
  std::size_t next_ = 0;   // the next frame a thread takes
  bool stopping_ = false;  // both guarded by lock_
};
