// Little-endian numbers in byte buffers, as the payload archives, their checksums and
// Windows' own file formats store them, whatever the host's byte order. Portable.
#pragma once
#include <cstddef>
#include <cstdint>

inline std::uint32_t ReadLe16(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8;
}

inline std::uint32_t ReadLe32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline std::uint64_t ReadLe64(const unsigned char* p) {
  return static_cast<std::uint64_t>(ReadLe32(p)) | static_cast<std::uint64_t>(ReadLe32(p + 4)) << 32;
}

// The low `width` bytes of `value` (at most 8) into out[0..width).
inline void WriteLe(std::uint64_t value, std::size_t width, unsigned char* out) {
  for (std::size_t i = 0; i < width; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i) & 0xFFu);
}
