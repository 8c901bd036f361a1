// The content checksum of a zstd frame: the low 32 bits of XXH64 (seed 0) of what the
// frame decodes to, kept little-endian in the frame's last four bytes. Portable.
#pragma once
#include <cstddef>

// True when `frame` (one whole frame with a content checksum) records the checksum
// of `content`.
bool ContentChecksumHolds(const void* frame, std::size_t frameSize, const void* content, std::size_t contentSize);
