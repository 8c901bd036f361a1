#include "engine/archive_reader.h"

#include <cstring>

namespace {

std::uint32_t ReadLe32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t ReadLe64(const unsigned char* p) {
  return static_cast<std::uint64_t>(ReadLe32(p)) | static_cast<std::uint64_t>(ReadLe32(p + 4)) << 32;
}

bool Terminated(const char* field) { return std::memchr(field, '\0', kPayloadTextSize) != nullptr; }

// A path component that keeps the file inside the destination folder.
bool SafeComponent(const char* begin, const char* end) {
  const std::size_t length = static_cast<std::size_t>(end - begin);
  if (length == 0) return false;
  if (length == 1 && begin[0] == '.') return false;
  if (length == 2 && begin[0] == '.' && begin[1] == '.') return false;
  for (const char* c = begin; c != end; ++c) {
    const unsigned char u = static_cast<unsigned char>(*c);
    if (u < 0x20 || *c == ':' || *c == '/' || *c == '*' || *c == '?' || *c == '"' || *c == '<' ||
        *c == '>' || *c == '|')
      return false;
  }
  return true;
}

// "\" alone, or "\a\b\" with every component safe.
bool SafeRelativeFolder(const char* folder) {
  const std::size_t length = std::strlen(folder);
  if (length == 0 || folder[0] != '\\' || folder[length - 1] != '\\') return false;
  const char* start = folder + 1;
  const char* end = folder + length;
  while (start < end) {
    const char* separator = static_cast<const char*>(std::memchr(start, '\\', static_cast<std::size_t>(end - start)));
    if (!SafeComponent(start, separator)) return false;
    start = separator + 1;
  }
  return true;
}

}  // namespace

const char* PayloadFileName(const PayloadEntry& entry) {
  const char* last = std::strrchr(entry.sourcePath, '\\');
  return last ? last + 1 : entry.sourcePath;
}

ArchiveError ValidateArchive(const void* data, std::size_t size, ArchiveView* view, std::int32_t* failedEntry) {
  if (failedEntry) *failedEntry = -1;
  const auto* base = static_cast<const unsigned char*>(data);
  if (base == nullptr || size < kPayloadHeaderSize) return ArchiveError::TooSmall;
  const auto count = static_cast<std::int32_t>(ReadLe32(base));
  if (count < 0) return ArchiveError::NegativeCount;
  const std::size_t available = size - kPayloadHeaderSize;
  if (static_cast<std::uint64_t>(count) * kPayloadEntrySize > available) return ArchiveError::TableOverrun;
  const std::size_t dataOffset = kPayloadHeaderSize + static_cast<std::size_t>(count) * kPayloadEntrySize;

  std::uint64_t remaining = size - dataOffset;
  for (std::int32_t i = 0; i < count; ++i) {
    if (failedEntry) *failedEntry = i;
    PayloadEntry entry;
    std::memcpy(&entry, base + kPayloadHeaderSize + static_cast<std::size_t>(i) * kPayloadEntrySize, sizeof(entry));
    if (!Terminated(entry.sourcePath) || !Terminated(entry.relativeFolder)) return ArchiveError::UnterminatedText;
    if (!SafeRelativeFolder(entry.relativeFolder)) return ArchiveError::BadRelativeFolder;
    const char* name = PayloadFileName(entry);
    if (!SafeComponent(name, name + std::strlen(name))) return ArchiveError::BadFileName;
    const std::uint64_t entrySize = ReadLe64(base + kPayloadHeaderSize + static_cast<std::size_t>(i) * kPayloadEntrySize +
                                             2 * kPayloadTextSize);
    if (entrySize > remaining) return ArchiveError::DataOverrun;
    remaining -= entrySize;
  }
  if (failedEntry) *failedEntry = -1;
  if (remaining != 0) return ArchiveError::TrailingBytes;

  if (view) {
    view->base = base;
    view->size = size;
    view->count = count;
    view->dataOffset = dataOffset;
  }
  return ArchiveError::None;
}

PayloadEntry ReadPayloadEntry(const ArchiveView& view, std::int32_t index) {
  PayloadEntry entry;
  std::memcpy(&entry, view.base + kPayloadHeaderSize + static_cast<std::size_t>(index) * kPayloadEntrySize,
              sizeof(entry));
  // The table is little-endian like both targets; normalise in case of a big-endian host.
  entry.size = ReadLe64(view.base + kPayloadHeaderSize + static_cast<std::size_t>(index) * kPayloadEntrySize +
                        2 * kPayloadTextSize);
  return entry;
}

const char* ArchiveErrorText(ArchiveError error) {
  switch (error) {
    case ArchiveError::None: return "valid";
    case ArchiveError::TooSmall: return "shorter than the 4-byte entry count";
    case ArchiveError::NegativeCount: return "negative entry count";
    case ArchiveError::TableOverrun: return "entry table runs past the end of the archive";
    case ArchiveError::DataOverrun: return "entry data runs past the end of the archive";
    case ArchiveError::TrailingBytes: return "bytes follow the last entry's data";
    case ArchiveError::UnterminatedText: return "text field without its terminating zero";
    case ArchiveError::BadRelativeFolder: return "relative folder is not of the form \\...\\ or leaves the destination";
    case ArchiveError::BadFileName: return "file name is empty or leaves the destination";
  }
  return "unknown error";
}
