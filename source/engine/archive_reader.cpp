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

bool IsDeviceName(const char* begin, const char* end) {
  // Windows opens a device for these names whatever the folder and extension
  // (C:\dest\nul.txt is the NUL device), so such a file never lands in the folder.
  const char* stem = static_cast<const char*>(std::memchr(begin, '.', static_cast<std::size_t>(end - begin)));
  if (stem == nullptr) stem = end;
  while (stem != begin && stem[-1] == ' ') --stem;
  const std::size_t length = static_cast<std::size_t>(stem - begin);
  char upper[5] = {};
  if (length < 3 || length > 4) return false;
  for (std::size_t i = 0; i < length; ++i) {
    const char c = begin[i];
    upper[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  if (length == 3)
    return std::strcmp(upper, "CON") == 0 || std::strcmp(upper, "PRN") == 0 || std::strcmp(upper, "AUX") == 0 ||
           std::strcmp(upper, "NUL") == 0;
  return (std::strncmp(upper, "COM", 3) == 0 || std::strncmp(upper, "LPT", 3) == 0) && upper[3] >= '1' &&
         upper[3] <= '9';
}

}  // namespace

bool PayloadNameIsSafe(const char* begin, const char* end) {
  const std::size_t length = static_cast<std::size_t>(end - begin);
  if (length == 0) return false;
  // Windows drops trailing dots and spaces, so "a." would land as "a"; this rule
  // also refuses "." and "..".
  if (end[-1] == '.' || end[-1] == ' ') return false;
  for (const char* c = begin; c != end; ++c) {
    const unsigned char u = static_cast<unsigned char>(*c);
    if (u < 0x20 || *c == ':' || *c == '/' || *c == '\\' || *c == '*' || *c == '?' || *c == '"' || *c == '<' ||
        *c == '>' || *c == '|')
      return false;
  }
  return !IsDeviceName(begin, end);
}

namespace {

// "\" alone, or "\a\b\" with every component safe.
bool SafeRelativeFolder(const char* folder) {
  const std::size_t length = std::strlen(folder);
  if (length == 0 || folder[0] != '\\' || folder[length - 1] != '\\') return false;
  const char* start = folder + 1;
  const char* end = folder + length;
  while (start < end) {
    const char* separator = static_cast<const char*>(std::memchr(start, '\\', static_cast<std::size_t>(end - start)));
    if (!PayloadNameIsSafe(start, separator)) return false;
    start = separator + 1;
  }
  return true;
}

}  // namespace

ArchiveError CheckPayloadEntryText(const PayloadEntry& entry) {
  if (!Terminated(entry.sourcePath) || !Terminated(entry.relativeFolder)) return ArchiveError::UnterminatedText;
  if (!SafeRelativeFolder(entry.relativeFolder)) return ArchiveError::BadRelativeFolder;
  const char* name = PayloadFileName(entry);
  if (!PayloadNameIsSafe(name, name + std::strlen(name))) return ArchiveError::BadFileName;
  return ArchiveError::None;
}

const char* PayloadFileName(const PayloadEntry& entry) {
  const char* last = std::strrchr(entry.sourcePath, '\\');
  return last ? last + 1 : entry.sourcePath;
}

ArchiveError ValidateArchive(const void* data, std::size_t size, ArchiveView* view, std::int32_t* failedEntry) {
  if (failedEntry) *failedEntry = -1;
  const auto* base = static_cast<const unsigned char*>(data);
  if (base == nullptr || size < kPayloadHeaderSize) return ArchiveError::TooSmall;
  const std::uint32_t rawCount = ReadLe32(base);
  // Tested on the raw bits: converting a value above INT32_MAX is not portable C++17.
  if (rawCount > 0x7FFFFFFFu) return ArchiveError::NegativeCount;
  const auto count = static_cast<std::int32_t>(rawCount);
  const std::size_t available = size - kPayloadHeaderSize;
  if (static_cast<std::uint64_t>(count) * kPayloadEntrySize > available) return ArchiveError::TableOverrun;
  const std::size_t dataOffset = kPayloadHeaderSize + static_cast<std::size_t>(count) * kPayloadEntrySize;

  std::uint64_t remaining = size - dataOffset;
  for (std::int32_t i = 0; i < count; ++i) {
    if (failedEntry) *failedEntry = i;
    PayloadEntry entry;
    std::memcpy(&entry, base + kPayloadHeaderSize + static_cast<std::size_t>(i) * kPayloadEntrySize, sizeof(entry));
    const ArchiveError textError = CheckPayloadEntryText(entry);
    if (textError != ArchiveError::None) return textError;
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
    case ArchiveError::BadRelativeFolder:
      return "relative folder is not of the form \\...\\ or holds a name Windows cannot write inside the destination";
    case ArchiveError::BadFileName: return "file name is empty or one Windows cannot write inside the destination";
  }
  return "unknown error";
}
