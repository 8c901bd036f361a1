// Stored payload archives built byte by byte, for the host tests of both readers.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/archive_reader.h"

namespace hosttest {

struct RawEntry {
  std::string sourcePath;
  std::string relativeFolder;
  std::uint64_t size;
};

inline void PutLe(std::vector<unsigned char>* out, std::size_t at, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) (*out)[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// An archive with the given table (count = table size unless given) and data area.
inline std::vector<unsigned char> Archive(const std::vector<RawEntry>& entries, const std::string& data,
                                          std::uint32_t count = 0xFFFFFFFF) {
  std::vector<unsigned char> bytes(4 + kPayloadEntrySize * entries.size());
  PutLe(&bytes, 0, count == 0xFFFFFFFF ? entries.size() : count, 4);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    unsigned char* record = bytes.data() + 4 + kPayloadEntrySize * i;
    std::memcpy(record, entries[i].sourcePath.data(), std::min<std::size_t>(entries[i].sourcePath.size(), 260));
    std::memcpy(record + 260, entries[i].relativeFolder.data(),
                std::min<std::size_t>(entries[i].relativeFolder.size(), 260));
    PutLe(&bytes, 4 + kPayloadEntrySize * i + 520, entries[i].size, 8);
  }
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

}  // namespace hosttest
