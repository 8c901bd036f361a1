// libFuzzer target for the payload archive reader: whatever the bytes, validation
// stays inside the buffer, and an archive it accepts can be walked entry by entry
// with every entry's data inside the archive and the data ending exactly at its end.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/archive_reader.h"

namespace {

volatile unsigned char g_sink;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ArchiveView view;
  std::int32_t failedEntry = -2;
  const ArchiveError error = ValidateArchive(data, size, &view, &failedEntry);
  Require(ArchiveErrorText(error) != nullptr);
  if (error != ArchiveError::None) {
    Require(failedEntry >= -1);
    return 0;
  }
  Require(failedEntry == -1);
  Require(view.base == data && view.size == size && view.count >= 0);
  Require(view.dataOffset == kPayloadHeaderSize + static_cast<std::size_t>(view.count) * kPayloadEntrySize);

  std::uint64_t offset = view.dataOffset;
  unsigned char sum = 0;
  for (std::int32_t i = 0; i < view.count; ++i) {
    const PayloadEntry entry = ReadPayloadEntry(view, i);
    const char* name = PayloadFileName(entry);
    Require(name >= entry.sourcePath && name < entry.sourcePath + kPayloadTextSize);
    Require(PayloadNameIsSafe(name, name + std::strlen(name)));
    Require(entry.relativeFolder[0] == '\\' && std::strstr(entry.relativeFolder, "..\\") == nullptr);
    Require(entry.size <= size - offset);
    // Touch every byte of the entry's data: the sanitizer catches any read past the buffer.
    for (std::uint64_t k = 0; k < entry.size; ++k) sum = static_cast<unsigned char>(sum + data[offset + k]);
    offset += entry.size;
  }
  Require(offset == size);
  g_sink = sum;
  return 0;
}
