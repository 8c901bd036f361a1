// Stored payload archives for the host tests of both readers, on the shared builder.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "support/payload_archive.h"

namespace hosttest {

using RawEntry = testsupport::ArchiveEntry;

inline void PutLe(std::vector<unsigned char>* out, std::size_t at, std::uint64_t value, std::size_t width) {
  WriteLe(value, width, out->data() + at);
}

// An archive with the given table (count = table size unless given) and data area.
inline std::vector<unsigned char> Archive(const std::vector<RawEntry>& entries, const std::string& data,
                                          std::uint32_t count = 0xFFFFFFFF) {
  std::vector<unsigned char> bytes = testsupport::PayloadTable(entries, count);
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

}  // namespace hosttest
