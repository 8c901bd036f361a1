// The payload archive format as the tests of every level write it: the entry count,
// then the 528-byte entries as the packer writes them (WritePayloadEntry),
// little-endian whatever the host. Portable. The data go
// after the table, written by the caller (so that a test can make it disagree with
// the sizes the table records).
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/archive_reader.h"
#include "shared/little_endian.h"

namespace testsupport {

struct ArchiveEntry {
  std::string sourcePath;      // at most 260 bytes are kept: 260 leaves the field unterminated
  std::string relativeFolder;  // the same
  std::uint64_t size = 0;      // as the table records it
};

// The count (the number of entries unless given) and the table, without data.
inline std::vector<unsigned char> PayloadTable(const std::vector<ArchiveEntry>& entries,
                                               std::uint32_t count = 0xFFFFFFFFu) {
  std::vector<unsigned char> bytes(kPayloadHeaderSize + kPayloadEntrySize * entries.size());
  WriteLe(count == 0xFFFFFFFFu ? entries.size() : count, kPayloadHeaderSize, bytes.data());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ArchiveEntry& entry = entries[i];
    WritePayloadEntry(entry.sourcePath.data(), entry.sourcePath.size(), entry.relativeFolder.data(),
                      entry.relativeFolder.size(), entry.size, kPayloadTextSize,
                      bytes.data() + kPayloadHeaderSize + kPayloadEntrySize * i);
  }
  return bytes;
}

// The table followed by `data` as the data area, whether or not it matches the sizes.
inline std::vector<unsigned char> StoredArchive(const std::vector<ArchiveEntry>& entries, const std::string& data,
                                                std::uint32_t count = 0xFFFFFFFFu) {
  std::vector<unsigned char> bytes = PayloadTable(entries, count);
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

// Overwrites `width` bytes at `at` with `value`, lowest byte first.
inline void PutLe(std::vector<unsigned char>* out, std::size_t at, std::uint64_t value, std::size_t width) {
  WriteLe(value, width, out->data() + at);
}

// A whole archive of files given with their bytes.
struct ArchiveFile {
  std::string sourcePath;
  std::string relativeFolder;
  std::string data;
};

inline std::vector<unsigned char> PayloadArchive(const std::vector<ArchiveFile>& files) {
  std::vector<ArchiveEntry> entries;
  for (const ArchiveFile& file : files) entries.push_back({file.sourcePath, file.relativeFolder, file.data.size()});
  std::vector<unsigned char> bytes = PayloadTable(entries);
  for (const ArchiveFile& file : files) bytes.insert(bytes.end(), file.data.begin(), file.data.end());
  return bytes;
}

}  // namespace testsupport
