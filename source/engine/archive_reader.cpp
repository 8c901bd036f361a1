#include "engine/archive_reader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "shared/code_page_case.h"
#include "shared/little_endian.h"

namespace {

bool Terminated(const char* field) { return std::memchr(field, '\0', kPayloadTextSize) != nullptr; }

bool SameText(const char* a, const char* b, std::size_t length) { return SameTextCp1251(a, b, length); }

// A digit as Windows reads it after COM or LPT: 0 to 9, and the bytes 0xB9, 0xB2 and
// 0xB3, which are superscript 1, 2 and 3 in code page 1252 (№, І and і in 1251);
// Windows takes COM¹ for a serial port whatever the code page the name came from.
bool IsPortDigit(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= '0' && u <= '9') || u == 0xB9 || u == 0xB2 || u == 0xB3;
}

bool IsDeviceName(const char* begin, const char* end) {
  // Windows opens a device for these names whatever the folder and extension
  // (C:\dest\nul.txt is the NUL device), so such a file never lands in the folder.
  const char* stem = static_cast<const char*>(std::memchr(begin, '.', static_cast<std::size_t>(end - begin)));
  if (stem == nullptr) stem = end;
  while (stem != begin && stem[-1] == ' ') --stem;
  const std::size_t length = static_cast<std::size_t>(stem - begin);
  if (length == 3)
    return SameText(begin, "CON", 3) || SameText(begin, "PRN", 3) || SameText(begin, "AUX", 3) ||
           SameText(begin, "NUL", 3);
  if (length == 4) return (SameText(begin, "COM", 3) || SameText(begin, "LPT", 3)) && IsPortDigit(begin[3]);
  return (length == 6 && SameText(begin, "CONIN$", 6)) || (length == 7 && SameText(begin, "CONOUT$", 7));
}

// Characters a short (8.3) name cannot hold: Windows puts an underscore in their place.
bool ReplacedInShortName(char c) {
  return c == '+' || c == ',' || c == ';' || c == '=' || c == '[' || c == ']';
}

// The base and extension of a name as Windows forms its short name: leading dots go,
// spaces and every dot but the last go, unsuitable characters become underscores,
// letters are upper case. *fits is whether the name needed no change but case, so
// that it is its own short name and gets no ~N form.
struct ShortParts {
  char base[kPayloadTextSize];
  std::size_t baseLength = 0;
  char extension[4];
  std::size_t extensionLength = 0;  // at most 3 kept
  bool fits = true;
};

void FormShortParts(const char* begin, const char* end, ShortParts* parts) {
  while (begin != end && *begin == '.') {
    ++begin;
    parts->fits = false;
  }
  const char* dot = end;
  for (const char* c = begin; c != end; ++c)
    if (*c == '.') dot = c;
  std::size_t extensionSeen = 0;
  for (const char* c = begin; c != end; ++c) {
    if (*c == ' ' || (*c == '.' && c != dot)) {
      parts->fits = false;
      continue;
    }
    if (c == dot) continue;
    char folded = UpperCp1251(*c);
    if (ReplacedInShortName(folded)) {
      folded = '_';
      parts->fits = false;
    }
    if (c < dot) {
      if (parts->baseLength < sizeof(parts->base)) parts->base[parts->baseLength++] = folded;
    } else if (extensionSeen++ < 3) {
      parts->extension[parts->extensionLength++] = folded;
    }
  }
  if (parts->baseLength == 0 || parts->baseLength > 8 || extensionSeen > 3) parts->fits = false;
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// Whether [begin, end) has the form of a generated short name, BASE~N or BASE~N.EXT:
// at most 8 characters before the extension, ending in a tilde and digits, and an
// extension of at most 3. *prefixLength is the length of the part before the tilde.
bool LooksLikeShortName(const char* begin, const char* end, std::size_t* prefixLength) {
  const char* dot = static_cast<const char*>(std::memchr(begin, '.', static_cast<std::size_t>(end - begin)));
  const char* baseEnd = dot ? dot : end;
  if (baseEnd - begin > 8) return false;
  if (dot && (end - dot - 1 > 3 || std::memchr(dot + 1, '.', static_cast<std::size_t>(end - dot - 1)))) return false;
  const char* digits = baseEnd;
  while (digits != begin && digits[-1] >= '0' && digits[-1] <= '9') --digits;
  if (digits == baseEnd || digits - begin < 2 || digits[-1] != '~') return false;
  *prefixLength = static_cast<std::size_t>(digits - 1 - begin);
  return true;
}

}  // namespace

bool PayloadNamesAlias(const char* aBegin, const char* aEnd, const char* bBegin, const char* bEnd) {
  std::size_t prefixLength = 0;
  if (!LooksLikeShortName(aBegin, aEnd, &prefixLength)) {
    if (!LooksLikeShortName(bBegin, bEnd, &prefixLength)) return false;
    std::swap(aBegin, bBegin);
    std::swap(aEnd, bEnd);
  }
  ShortParts shortName;
  FormShortParts(aBegin, aEnd, &shortName);
  ShortParts longName;
  FormShortParts(bBegin, bEnd, &longName);
  if (longName.fits) return false;  // the other name is a plain 8.3 name: no ~N form stands for it
  if (shortName.extensionLength != longName.extensionLength ||
      std::memcmp(shortName.extension, longName.extension, shortName.extensionLength) != 0)
    return false;
  if (prefixLength <= longName.baseLength && std::memcmp(shortName.base, longName.base, prefixLength) == 0)
    return true;
  // After a few ~N forms Windows uses two characters of the name and four hex digits
  // of a hash of it (AB12C4~5.TXT): taken as standing for every name beginning so.
  return prefixLength == 6 && longName.baseLength >= 2 && std::memcmp(shortName.base, longName.base, 2) == 0 &&
         IsHexDigit(shortName.base[2]) && IsHexDigit(shortName.base[3]) && IsHexDigit(shortName.base[4]) &&
         IsHexDigit(shortName.base[5]);
}

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

const char* EntryText(const unsigned char* table, std::int32_t index, std::size_t field) {
  return reinterpret_cast<const char*>(table + static_cast<std::size_t>(index) * kPayloadEntrySize +
                                       field * kPayloadTextSize);
}

// Component `index` of an entry's destination (its relative folder's names, then its
// file name) as [*begin, *end); *parentLength is the length of the relative-folder
// text before it. False when the destination has fewer components.
bool DestinationComponent(const char* folder, const char* name, std::size_t index, const char** begin,
                          const char** end, std::size_t* parentLength) {
  const char* start = folder + 1;  // folder is "\" or "\a\b\"
  for (std::size_t k = 0;; ++k) {
    const char* separator = std::strchr(start, '\\');
    if (k == index) {
      *begin = separator ? start : name;
      *end = separator ? separator : name + std::strlen(name);
      *parentLength = static_cast<std::size_t>(start - folder);
      return true;
    }
    if (separator == nullptr) return false;
    start = separator + 1;
  }
}

// Every name an entry's destination is made of: the folders of its relative folder,
// each inside the text of the folders before it, then its file name.
// With `names` null, only counts them. Returns the number of names.
std::size_t AppendEntryNames(const char* folder, const char* name, std::int32_t owner, PayloadName* names) {
  std::size_t added = 0;
  const char* begin = nullptr;
  const char* end = nullptr;
  std::size_t parent = 0;
  for (std::size_t j = 0; DestinationComponent(folder, name, j, &begin, &end, &parent); ++j) {
    PayloadName entryName;
    entryName.folder = folder;
    entryName.folderLength = parent;
    entryName.name = begin;
    entryName.nameLength = static_cast<std::size_t>(end - begin);
    entryName.file = begin == name;
    entryName.owner = owner;
    if (names != nullptr) names[added] = entryName;
    ++added;
  }
  return added;
}

// Texts compared as the file system compares names: upper-cased in the code page.
int CompareFolded(const char* a, std::size_t aLength, const char* b, std::size_t bLength) {
  const std::size_t common = std::min(aLength, bLength);
  for (std::size_t k = 0; k < common; ++k) {
    const auto x = static_cast<unsigned char>(UpperCp1251(a[k]));
    const auto y = static_cast<unsigned char>(UpperCp1251(b[k]));
    if (x != y) return x < y ? -1 : 1;
  }
  return aLength == bLength ? 0 : (aLength < bLength ? -1 : 1);
}

int CompareBytes(const char* a, std::size_t aLength, const char* b, std::size_t bLength) {
  const int order = std::memcmp(a, b, std::min(aLength, bLength));
  if (order != 0) return order;
  return aLength == bLength ? 0 : (aLength < bLength ? -1 : 1);
}

// A long name filed under one prefix of its short form's base that a short name can
// keep: its folder, the extension and the first `length` characters of that base
// (the short form's texts are upper-cased already).
struct AliasKey {
  const PayloadName* name;
  const ShortParts* parts;
  std::size_t length;
};

int CompareAliasKeys(const AliasKey& a, const AliasKey& b) {
  int order = CompareFolded(a.name->folder, a.name->folderLength, b.name->folder, b.name->folderLength);
  if (order == 0)
    order = CompareBytes(a.parts->extension, a.parts->extensionLength, b.parts->extension, b.parts->extensionLength);
  if (order == 0) order = CompareBytes(a.parts->base, a.length, b.parts->base, b.length);
  return order;
}

// A generated short name keeps at most 6 characters of the long name before its ~N.
constexpr std::size_t kShortPrefixMax = 6;

}  // namespace

NameClash FindNameClash(PayloadName* names, std::size_t count) {
  NameClash clash;
  // Working storage in plain arrays: the installer links no standard container.
  const std::unique_ptr<std::size_t[]> distinct(new (std::nothrow) std::size_t[count + 1]);
  const std::unique_ptr<ShortParts[]> longForms(new (std::nothrow) ShortParts[count + 1]);
  const std::unique_ptr<AliasKey[]> keys(new (std::nothrow) AliasKey[count * kShortPrefixMax + 1]);
  if (!distinct || !longForms || !keys) {
    clash.kind = NameClashKind::OutOfMemory;
    return clash;
  }
  std::sort(names, names + count, [](const PayloadName& a, const PayloadName& b) {
    const int folder = CompareFolded(a.folder, a.folderLength, b.folder, b.folderLength);
    if (folder != 0) return folder < 0;
    const int name = CompareFolded(a.name, a.nameLength, b.name, b.nameLength);
    if (name != 0) return name < 0;
    return a.file && !b.file;  // a name's files first
  });
  // One name per folder and text; two files, or a file and a folder, under one is a clash.
  std::size_t distinctCount = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const PayloadName* kept = distinctCount == 0 ? nullptr : &names[distinct[distinctCount - 1]];
    const bool same = kept != nullptr &&
                      CompareFolded(kept->folder, kept->folderLength, names[i].folder, names[i].folderLength) == 0 &&
                      CompareFolded(kept->name, kept->nameLength, names[i].name, names[i].nameLength) == 0;
    if (!same) {
      distinct[distinctCount++] = i;
    } else if (kept->file) {
      clash.kind = NameClashKind::Duplicate;
      clash.first = kept->owner;
      clash.second = names[i].owner;
      return clash;
    }
  }
  // The short forms of the long names, each filed under every prefix of its base that
  // a short name can keep, sorted for lookups.
  std::size_t formCount = 0;
  std::size_t keyCount = 0;
  for (std::size_t d = 0; d < distinctCount; ++d) {
    const PayloadName& name = names[distinct[d]];
    ShortParts& parts = longForms[formCount];
    parts = ShortParts();
    FormShortParts(name.name, name.name + name.nameLength, &parts);
    if (parts.fits) continue;  // a plain 8.3 name has no ~N form
    ++formCount;
    for (std::size_t length = 1; length <= kShortPrefixMax && length <= parts.baseLength; ++length)
      keys[keyCount++] = AliasKey{&name, &parts, length};
  }
  const auto keyLess = [](const AliasKey& a, const AliasKey& b) { return CompareAliasKeys(a, b) < 0; };
  AliasKey* const keysEnd = keys.get() + keyCount;
  std::sort(keys.get(), keysEnd, keyLess);
  for (std::size_t d = 0; d < distinctCount; ++d) {
    const PayloadName& name = names[distinct[d]];
    std::size_t prefix = 0;
    if (!LooksLikeShortName(name.name, name.name + name.nameLength, &prefix)) continue;
    ShortParts parts;
    FormShortParts(name.name, name.name + name.nameLength, &parts);
    if (prefix > parts.baseLength) continue;
    // The long names beginning like it, and for the hashed form (AB12C4~5) every long
    // name beginning with its first two characters; the name itself does not count.
    std::size_t lengths[2] = {prefix, 0};
    if (prefix == kShortPrefixMax && IsHexDigit(parts.base[2]) && IsHexDigit(parts.base[3]) &&
        IsHexDigit(parts.base[4]) && IsHexDigit(parts.base[5]))
      lengths[1] = 2;
    for (std::size_t length : lengths) {
      if (length == 0) continue;
      const AliasKey probe{&name, &parts, length};
      for (const AliasKey* found = std::lower_bound(keys.get(), keysEnd, probe, keyLess);
           found != keysEnd && CompareAliasKeys(*found, probe) == 0; ++found) {
        if (found->name == &name) continue;
        clash.kind = NameClashKind::Aliased;
        clash.first = name.owner;
        clash.second = found->name->owner;
        return clash;
      }
    }
  }
  return clash;
}

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

ArchiveError ValidatePayloadTable(const unsigned char* table, std::int32_t count, std::uint64_t dataLimit,
                                  std::uint64_t* dataBytes, std::int32_t* failedEntry) {
  std::uint64_t remaining = dataLimit;
  for (std::int32_t i = 0; i < count; ++i) {
    if (failedEntry) *failedEntry = i;
    const unsigned char* record = table + static_cast<std::size_t>(i) * kPayloadEntrySize;
    PayloadEntry entry;
    std::memcpy(&entry, record, sizeof(entry));
    const ArchiveError textError = CheckPayloadEntryText(entry);
    if (textError != ArchiveError::None) return textError;
    const std::uint64_t entrySize = ReadLe64(record + 2 * kPayloadTextSize);
    if (entrySize > remaining) return ArchiveError::DataOverrun;
    remaining -= entrySize;
  }
  if (failedEntry) *failedEntry = -1;
  *dataBytes = dataLimit - remaining;
  std::size_t nameCount = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    const char* source = EntryText(table, i, 0);
    const char* last = std::strrchr(source, '\\');
    nameCount += AppendEntryNames(EntryText(table, i, 1), last ? last + 1 : source, i, nullptr);
  }
  const std::unique_ptr<PayloadName[]> names(new (std::nothrow) PayloadName[nameCount + 1]);
  if (!names) return ArchiveError::OutOfMemory;
  std::size_t filled = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    const char* source = EntryText(table, i, 0);
    const char* last = std::strrchr(source, '\\');
    filled += AppendEntryNames(EntryText(table, i, 1), last ? last + 1 : source, i, names.get() + filled);
  }
  const NameClash clash = FindNameClash(names.get(), filled);
  if (clash.kind == NameClashKind::OutOfMemory) return ArchiveError::OutOfMemory;
  if (clash.kind != NameClashKind::None) {
    // The short name's entry, or the later of two entries with one destination.
    if (failedEntry)
      *failedEntry = clash.kind == NameClashKind::Aliased ? clash.first : std::max(clash.first, clash.second);
    return clash.kind == NameClashKind::Aliased ? ArchiveError::AliasedName : ArchiveError::DuplicateDestination;
  }
  return ArchiveError::None;
}

ArchiveError ValidateStoredArchive(const unsigned char* base, std::size_t size, ArchiveView* view,
                                   std::int32_t* failedEntry) {
  if (failedEntry) *failedEntry = -1;
  if (base == nullptr || size < kPayloadHeaderSize) return ArchiveError::TooSmall;
  const std::uint32_t rawCount = ReadLe32(base);
  // Tested on the raw bits: converting a value above INT32_MAX is not portable C++17.
  if (rawCount > 0x7FFFFFFFu) return ArchiveError::NegativeCount;
  const auto count = static_cast<std::int32_t>(rawCount);
  const std::size_t available = size - kPayloadHeaderSize;
  if (static_cast<std::uint64_t>(count) * kPayloadEntrySize > available) return ArchiveError::TableOverrun;
  const std::size_t dataOffset = kPayloadHeaderSize + static_cast<std::size_t>(count) * kPayloadEntrySize;

  std::uint64_t dataBytes = 0;
  const ArchiveError tableError =
      ValidatePayloadTable(base + kPayloadHeaderSize, count, size - dataOffset, &dataBytes, failedEntry);
  if (tableError == ArchiveError::None && dataBytes != size - dataOffset) return ArchiveError::TrailingBytes;
  if (tableError != ArchiveError::None) return tableError;

  if (view) *view = MakeArchiveView(base, size, count, kPayloadHeaderSize, dataOffset, dataBytes);
  return ArchiveError::None;
}

ArchiveView MakeArchiveView(const unsigned char* base, std::size_t size, std::int32_t count, std::size_t tableOffset,
                            std::size_t dataOffset, std::uint64_t dataBytes) {
  ArchiveView view;
  view.base = base;
  view.size = size;
  view.count = count;
  view.tableOffset = tableOffset;
  view.dataOffset = dataOffset;
  view.dataBytes = dataBytes;
  return view;
}

PayloadEntry ReadPayloadEntry(const ArchiveView& view, std::int32_t index) {
  PayloadEntry entry;
  const unsigned char* record = view.base + view.tableOffset + static_cast<std::size_t>(index) * kPayloadEntrySize;
  std::memcpy(&entry, record, sizeof(entry));
  // The table is little-endian like both targets; normalise in case of a big-endian host.
  entry.size = ReadLe64(record + 2 * kPayloadTextSize);
  return entry;
}

void WritePayloadEntry(const char* sourcePath, std::size_t sourceLength, const char* relativeFolder,
                       std::size_t folderLength, std::uint64_t size, std::size_t textLimit, unsigned char* record) {
  const std::size_t limit = std::min(textLimit, kPayloadTextSize);
  std::memset(record, 0, kPayloadEntrySize);
  std::memcpy(record, sourcePath, std::min(sourceLength, limit));
  std::memcpy(record + kPayloadTextSize, relativeFolder, std::min(folderLength, limit));
  WriteLe(size, 8, record + 2 * kPayloadTextSize);
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
    case ArchiveError::AliasedName:
      return "a short (8.3) name stands for the long name of another entry in the same folder";
    case ArchiveError::DuplicateDestination:
      return "two entries have one destination (names that differ only in case), or a file stands where a "
             "folder goes";
    case ArchiveError::UnknownVersion: return "compressed archive of an unknown format version";
    case ArchiveError::BadFrameLayout:
      return "compressed archive's frame size, frame count or a frame's length does not fit its entries";
    case ArchiveError::OutOfMemory: return "not enough memory to check the entries' names";
  }
  return "unknown error";
}
