// Reader of the payload archive format: a signed 32-bit entry count, a table of
// 528-byte entries, then every entry's bytes back to back. Portable: no <windows.h>.
// The same entry table also travels in a compressed archive (engine/compressed_archive.h),
// which ValidateArchive recognises by its tag and checks as such.
//
// ValidateArchive checks the whole archive before anything uses it. It never reads
// outside [data, data + size), and an archive it accepts can be walked without
// further checks: every entry's data lies inside the archive, every text field is
// terminated, and no entry can land outside the destination folder.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr std::size_t kPayloadTextSize = 260;
constexpr std::size_t kPayloadEntrySize = 528;
constexpr std::size_t kPayloadHeaderSize = 4;

// One table entry, exactly as stored (little-endian).
struct PayloadEntry {
  char sourcePath[kPayloadTextSize];      // absolute path on the packing machine
  char relativeFolder[kPayloadTextSize];  // "\" or "\sub\folder\"
  std::uint64_t size;                     // bytes of data
};
static_assert(sizeof(PayloadEntry) == kPayloadEntrySize, "PayloadEntry must be 528 bytes");

enum class ArchiveError {
  None,
  TooSmall,              // not even the 4-byte count
  NegativeCount,
  TableOverrun,          // the entry table runs past the end
  DataOverrun,           // the entries' sizes run past the end
  TrailingBytes,         // bytes after the last entry's data
  UnterminatedText,      // a text field without its terminating zero
  BadRelativeFolder,     // not "\...\", or a component that PayloadNameIsSafe refuses
  BadFileName,           // the last component of sourcePath is one PayloadNameIsSafe refuses
  AliasedName,           // a short name (ABCDEF~1.TXT) beside the long name it stands for
  DuplicateDestination,  // two files at one destination, or a file where a folder goes
  UnknownVersion,        // a compressed archive of a format version this reader does not know
  BadFrameLayout,        // a compressed archive's frame size, frame count or a frame's length is impossible
  OutOfMemory,           // no memory to check the names against each other
};

// A validated archive in memory. Cheap to copy; it does not own the bytes.
struct ArchiveView {
  const unsigned char* base = nullptr;
  std::size_t size = 0;
  std::int32_t count = 0;
  std::size_t tableOffset = kPayloadHeaderSize;  // where the entry table begins
  std::size_t dataOffset = 0;  // stored: 4 + 528 * count; compressed: the first frame
  std::uint64_t dataBytes = 0;  // the sum of every entry's size
  // Compressed archives only: each entry's data cut into frames of frameSize bytes
  // (the last one of an entry shorter), frameCount in all, their compressed lengths
  // in a table of 4-byte values at frameTableOffset.
  bool compressed = false;
  std::uint32_t frameSize = 0;
  std::uint32_t frameCount = 0;
  std::size_t frameTableOffset = 0;
};

// Checks a stored archive (engine/payload_archive.h checks either form) and fills
// *view when it is valid (view may be null). On failure *failedEntry (when given)
// names the entry at fault, or -1.
ArchiveError ValidateStoredArchive(const unsigned char* base, std::size_t size, ArchiveView* view,
                                   std::int32_t* failedEntry);

// Whether one path component [begin, end) may be written under the destination:
// not empty, no control character or any of : / \ * ? " < > |, no trailing dot or
// space (so neither "." nor ".."), and no device name (with or without an
// extension): CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM and LPT followed by a digit
// 0-9 or by one of the bytes 0xB9, 0xB2, 0xB3 (superscript digits to Windows).
// The packing tool applies the same rule.
bool PayloadNameIsSafe(const char* begin, const char* end);

// Whether one of two names in one folder has the form of a short (8.3) name that
// Windows may give the other (ABCDEF~1.TXT for abcdefghij.txt, or the hashed form
// AB12C4~1.TXT for any long name beginning with AB): the two would be one file.
// Code page 1251 names, compared without regard to case. The packing tool refuses
// such pairs among a folder's files and folders, and ValidateArchive among entries.
bool PayloadNamesAlias(const char* aBegin, const char* aEnd, const char* bBegin, const char* bEnd);

// One name in a destination tree: a file or folder `name` directly inside the folder
// that `folder` names (the same text, but for case, for every name of that folder),
// belonging to entry `owner`. Both texts are views into the caller's storage.
struct PayloadName {
  const char* folder = "";
  std::size_t folderLength = 0;
  const char* name = "";
  std::size_t nameLength = 0;
  bool file = false;
  std::int32_t owner = 0;
};

enum class NameClashKind { None, Duplicate, Aliased, OutOfMemory };

// What FindNameClash found: for Aliased, `first` owns the short name and `second` the
// long name it stands for; for Duplicate, two owners of the same destination.
struct NameClash {
  NameClashKind kind = NameClashKind::None;
  std::int32_t first = -1;
  std::int32_t second = -1;
};

// Two files (or a file and a folder) under one name of one folder, compared without
// regard to case, or a short name beside a long name it stands for (PayloadNamesAlias).
// Sorts and indexes the names, so it takes n log n time in their number.
// Reorders `names`; OutOfMemory when its working storage cannot be had.
NameClash FindNameClash(PayloadName* names, std::size_t count);

// The per-entry part of ValidateArchive: both text fields terminated, the relative
// folder of the form "\" or "\a\b\" with safe components, a safe file name.
ArchiveError CheckPayloadEntryText(const PayloadEntry& entry);

// The table part of ValidateArchive, for both formats: `count` entries at `table`,
// each with terminated, safe texts, no two aliased, and sizes that add up to at most
// `dataLimit` (DataOverrun otherwise); *dataBytes receives the sum.
ArchiveError ValidatePayloadTable(const unsigned char* table, std::int32_t count, std::uint64_t dataLimit,
                                  std::uint64_t* dataBytes, std::int32_t* failedEntry);

// The view both forms share, as their validation fills it in.
ArchiveView MakeArchiveView(const unsigned char* base, std::size_t size, std::int32_t count, std::size_t tableOffset,
                            std::size_t dataOffset, std::uint64_t dataBytes);

// An English description of an error, for tools and logs.
const char* ArchiveErrorText(ArchiveError error);

// Entry i (0 <= i < count) of a validated archive, copied out of the table.
PayloadEntry ReadPayloadEntry(const ArchiveView& view, std::int32_t index);

// The other way, for the writers of archives: one table entry into the
// kPayloadEntrySize bytes at `record`, zeroed first. Each text is cut to
// `textLimit` bytes (at most kPayloadTextSize; a limit below it keeps the terminator).
void WritePayloadEntry(const char* sourcePath, std::size_t sourceLength, const char* relativeFolder,
                       std::size_t folderLength, std::uint64_t size, std::size_t textLimit, unsigned char* record);

// The file name an entry is written under: the text after the last backslash of
// sourcePath (all of it when there is none). Points into entry.sourcePath.
const char* PayloadFileName(const PayloadEntry& entry);
