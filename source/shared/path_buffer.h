// Bounded composition of ANSI paths in the installer's fixed 260-byte buffers.
#pragma once
#include <cstddef>

// The platform's MAX_PATH: every path buffer of the installer holds this many bytes,
// so at most 259 characters and the terminating zero.
constexpr std::size_t kPathCapacity = 260;

enum class PathResult {
  Ok,
  BufferTooSmall,   // the result was cut to fit; the destination is still terminated
  InvalidArgument,  // the destination held no terminator; it was left unchanged
};

// Copies source into destination (kPathCapacity bytes). Always terminates.
PathResult CopyPath(char* destination, const char* source);

// Appends source to the text in destination (kPathCapacity bytes). Always terminates.
PathResult AppendPath(char* destination, const char* source);

// The same operations for a buffer of another capacity (capacity >= 1).
PathResult CopyText(char* destination, std::size_t capacity, const char* source);
PathResult AppendText(char* destination, std::size_t capacity, const char* source);

// Length of a possibly unterminated text in a buffer of `capacity` bytes.
std::size_t BoundedLength(const char* text, std::size_t capacity);
