#include "engine/payload_archive.h"

#include <cstring>

#include "engine/compressed_archive.h"

ArchiveError ValidateArchive(const void* data, std::size_t size, ArchiveView* view, std::int32_t* failedEntry) {
  const auto* base = static_cast<const unsigned char*>(data);
  // The compressed format's tag reads as a negative count, so no stored archive has it.
  if (base != nullptr && size >= kPayloadHeaderSize &&
      std::memcmp(base, kCompressedArchiveTag, kPayloadHeaderSize) == 0) {
    if (failedEntry) *failedEntry = -1;
    return ValidateCompressedArchive(base, size, view, failedEntry);
  }
  return ValidateStoredArchive(base, size, view, failedEntry);
}
