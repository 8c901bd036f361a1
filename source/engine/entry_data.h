// Where the bytes of an archive's entries come from while they are written, in the
// archive's order: for a stored archive straight out of the resource, for a
// compressed one the frames as the decoding pool hands them over.
#pragma once
#include <cstddef>

#include "engine/archive_reader.h"
#include "engine/decode_pool.h"

class EntryData {
 public:
  explicit EntryData(const ArchiveView& archive) : archive_(archive), pool_(archive) {}

  // Makes the first bytes available (for a compressed archive: starts decoding on
  // every core, or with `ahead` on one, leaving the others to the wizard's pages until
  // Widen). False when decoding cannot start.
  bool Start(bool ahead = false);
  bool Widen() { return pool_.Widen(); }

  // The bytes not yet consumed of the current span (a decoded frame, or the whole
  // stored data area), or of the next span once that one is used up. False when there
  // is nothing more or a frame did not decode.
  bool Next(const unsigned char** data, std::size_t* length);
  // `length` bytes of what Next handed out are used.
  void Consume(std::size_t length);

 private:
  const ArchiveView archive_;
  DecodePool pool_;  // started for a compressed archive only
  const unsigned char* span_ = nullptr;
  std::size_t left_ = 0;
  std::size_t frame_ = 0;   // the next frame to take, or the one held
  bool holding_ = false;
};
