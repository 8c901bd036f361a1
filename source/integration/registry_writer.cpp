#include "integration/registry_writer.h"

#include <cstring>

#include "shared/little_endian.h"

LONG CreateKeyForWriting(HKEY root, const char* subKey, REGSAM access, UniqueKey& key) {
  DWORD disposition = 0;
  return RegCreateKeyExA(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                         key.Receive(), &disposition);
}

LONG WriteTextValue(HKEY key, const char* name, const char* text) {
  if (text == nullptr) return ERROR_INSUFFICIENT_BUFFER;
  // The terminator is stored with the text, so readers get a terminated string.
  const DWORD byteCount = static_cast<DWORD>(std::strlen(text) + 1);
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), byteCount);
}

LONG WriteDwordValue(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof(value));
}

bool WriteTextValues(HKEY key, const RegistryText* values, std::size_t count, LONG* lastError) {
  bool allWritten = true;
  for (std::size_t i = 0; i < count; ++i) {
    const LONG result = WriteTextValue(key, values[i].name, values[i].text);
    if (result == ERROR_SUCCESS) continue;
    allWritten = false;
    if (lastError) *lastError = result;
  }
  return allWritten;
}

KeyWriteResult WriteKeyWithValues(HKEY root, const char* subKey, REGSAM access,
                                  const RegistryText* values, std::size_t count, LONG* error) {
  UniqueKey key;
  const LONG created = CreateKeyForWriting(root, subKey, access, key);
  if (created != ERROR_SUCCESS) {
    if (error) *error = created;
    return KeyWriteResult::KeyFailed;
  }
  return WriteTextValues(key.Get(), values, count, error) ? KeyWriteResult::Ok
                                                          : KeyWriteResult::ValuesFailed;
}

namespace {

// The length of path without its last `levels` parts ("a\b\c", 1 -> 3); 0 when
// nothing is left.
std::size_t ParentLength(const char* path, unsigned levels) {
  std::size_t length = std::strlen(path);
  for (unsigned i = 0; i < levels && length > 0; ++i) {
    while (length > 0 && path[length - 1] != '\\') --length;
    if (length > 0) --length;  // the separator
  }
  return length;
}

bool CopyPrefix(char* out, const char* path, std::size_t length) {
  if (length >= sizeof(ReplacedKey::path)) return false;
  std::memcpy(out, path, length);
  out[length] = '\0';
  return true;
}

unsigned PartCount(const char* path) {
  if (path[0] == '\0') return 0;
  unsigned parts = 1;
  for (const char* c = path; *c; ++c) parts += *c == '\\';
  return parts;
}

}  // namespace

LONG RecordReplacedKey(HKEY root, const char* path, REGSAM view, const char* const* names,
                       std::size_t count, ReplacedKey& out) {
  std::memset(&out, 0, sizeof(out));
  if (std::strlen(path) >= sizeof(out.path) || count > kReplacedValuesPerKey) return ERROR_INSUFFICIENT_BUFFER;
  std::memcpy(out.path, path, std::strlen(path) + 1);
  out.valueCount = static_cast<unsigned>(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (std::strlen(names[i]) >= kReplacedNameCapacity) return ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(out.values[i].name, names[i], std::strlen(names[i]) + 1);
  }
  UniqueKey key;
  LONG opened = RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE | view, key.Receive());
  if (opened == ERROR_FILE_NOT_FOUND) {
    // Count the parts the write will create: up to the deepest ancestor that exists.
    const unsigned parts = PartCount(path);
    out.createdLevels = 1;
    char ancestor[sizeof(out.path)];
    while (out.createdLevels < parts) {
      if (!CopyPrefix(ancestor, path, ParentLength(path, out.createdLevels))) return ERROR_INSUFFICIENT_BUFFER;
      UniqueKey probe;
      const LONG found = RegOpenKeyExA(root, ancestor, 0, KEY_QUERY_VALUE | view, probe.Receive());
      if (found == ERROR_SUCCESS) break;
      if (found != ERROR_FILE_NOT_FOUND) return found;
      ++out.createdLevels;
    }
    return ERROR_SUCCESS;  // no value can exist in a missing key
  }
  if (opened != ERROR_SUCCESS) return opened;
  for (std::size_t i = 0; i < count; ++i) {
    ReplacedValue& value = out.values[i];
    DWORD size = sizeof(value.data);
    const LONG read = RegQueryValueExA(key.Get(), value.name, nullptr, &value.type, value.data, &size);
    if (read == ERROR_FILE_NOT_FOUND) continue;
    if (read == ERROR_MORE_DATA) {
      value.existed = true;  // too long to keep: recorded as there but not restorable
      continue;
    }
    if (read != ERROR_SUCCESS) return read;
    value.existed = true;
    value.whole = true;
    value.size = size;
  }
  return ERROR_SUCCESS;
}

LONG PutBackValue(HKEY key, const ReplacedValue& before) {
  if (!before.existed) {
    const LONG deleted = RegDeleteValueA(key, before.name);
    return deleted == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : deleted;
  }
  if (!before.whole) return ERROR_MORE_DATA;
  return RegSetValueExA(key, before.name, 0, before.type, before.data, before.size);
}

LONG CheckTextValue(HKEY key, const char* name, const char* text) {
  unsigned char data[kReplacedDataCapacity];
  DWORD size = sizeof(data);
  DWORD type = REG_NONE;
  const LONG read = RegQueryValueExA(key, name, nullptr, &type, data, &size);
  if (read == ERROR_MORE_DATA) return ERROR_INVALID_DATA;  // longer than anything written here
  if (read != ERROR_SUCCESS) return read;
  const std::size_t length = std::strlen(text) + 1;
  return type == REG_SZ && size == length && std::memcmp(data, text, length) == 0 ? ERROR_SUCCESS
                                                                                   : ERROR_INVALID_DATA;
}

LONG CheckValueAsRecorded(HKEY key, const ReplacedValue& before) {
  unsigned char data[kReplacedDataCapacity];
  DWORD size = sizeof(data);
  DWORD type = REG_NONE;
  const LONG read = RegQueryValueExA(key, before.name, nullptr, &type, data, &size);
  if (read == ERROR_FILE_NOT_FOUND) return before.existed ? ERROR_INVALID_DATA : ERROR_SUCCESS;
  if (read == ERROR_MORE_DATA) return ERROR_INVALID_DATA;
  if (read != ERROR_SUCCESS) return read;
  return before.existed && before.whole && type == before.type && size == before.size &&
                 std::memcmp(data, before.data, size) == 0
             ? ERROR_SUCCESS
             : ERROR_INVALID_DATA;
}

LONG DeleteEmptyLevels(HKEY root, const char* path, REGSAM view, unsigned levels) {
  char part[sizeof(ReplacedKey::path)];
  for (unsigned level = 0; level < levels; ++level) {
    const std::size_t length = ParentLength(path, level);
    if (length == 0 || !CopyPrefix(part, path, length)) return ERROR_SUCCESS;
    UniqueKey key;
    const LONG opened = RegOpenKeyExA(root, part, 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | view, key.Receive());
    if (opened == ERROR_FILE_NOT_FOUND) continue;
    if (opened != ERROR_SUCCESS) return opened;
    DWORD subKeys = 0;
    DWORD values = 0;
    const LONG queried = RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                                          &values, nullptr, nullptr, nullptr, nullptr);
    if (queried != ERROR_SUCCESS) return queried;
    if (subKeys != 0 || values != 0) return ERROR_SUCCESS;  // something else lives here now
    key.Reset();
    const LONG deleted = RegDeleteKeyExA(root, part, view, 0);
    if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) return deleted;
  }
  return ERROR_SUCCESS;
}

namespace {

// A bounded writer and reader over the packed bytes.
struct PackCursor {
  unsigned char* out;
  std::size_t capacity;
  std::size_t at;
  bool Put(const void* bytes, std::size_t count) {
    if (count > capacity - at) return false;
    std::memcpy(out + at, bytes, count);
    at += count;
    return true;
  }
  bool PutText(const char* text) { return Put(text, std::strlen(text) + 1); }
  bool PutNumber(std::uint32_t value, std::size_t width) {
    unsigned char bytes[4];
    WriteLe(value, width, bytes);
    return Put(bytes, width);
  }
};

struct UnpackCursor {
  const unsigned char* data;
  std::size_t size;
  std::size_t at;
  // A terminated text of at most capacity - 1 characters.
  bool TakeText(char* text, std::size_t capacity) {
    const void* end = at < size ? std::memchr(data + at, '\0', size - at) : nullptr;
    if (end == nullptr) return false;
    const auto length = static_cast<std::size_t>(static_cast<const unsigned char*>(end) - (data + at));
    if (length >= capacity) return false;
    std::memcpy(text, data + at, length + 1);
    at += length + 1;
    return true;
  }
  bool Take(void* bytes, std::size_t count) {
    if (count > size - at) return false;
    std::memcpy(bytes, data + at, count);
    at += count;
    return true;
  }
  bool TakeNumber(std::uint32_t* value, std::size_t width) {
    unsigned char bytes[4] = {};
    if (width > sizeof(bytes) || !Take(bytes, width)) return false;
    *value = ReadLe32(bytes);
    return true;
  }
};

constexpr unsigned kExisted = 1;
constexpr unsigned kWhole = 2;

}  // namespace

std::size_t PackReplacedKey(const ReplacedKey& key, unsigned char* out, std::size_t capacity) {
  if (key.createdLevels > 0xFF || key.valueCount > kReplacedValuesPerKey) return 0;
  PackCursor cursor{out, capacity, 0};
  bool packed = cursor.PutText(key.path) && cursor.PutNumber(key.createdLevels, 1) &&
                cursor.PutNumber(key.valueCount, 1);
  for (unsigned i = 0; packed && i < key.valueCount; ++i) {
    const ReplacedValue& value = key.values[i];
    const bool whole = value.existed && value.whole && value.size <= sizeof(value.data);
    packed = cursor.PutText(value.name) &&
             cursor.PutNumber((value.existed ? kExisted : 0) | (whole ? kWhole : 0), 1) &&
             (!whole || (cursor.PutNumber(value.type, 4) && cursor.PutNumber(value.size, 4) &&
                         cursor.Put(value.data, value.size)));
  }
  return packed ? cursor.at : 0;
}

std::size_t UnpackReplacedKey(const unsigned char* data, std::size_t size, ReplacedKey& key) {
  std::memset(&key, 0, sizeof(key));
  UnpackCursor cursor{data, size, 0};
  std::uint32_t levels = 0;
  std::uint32_t count = 0;
  if (!cursor.TakeText(key.path, sizeof(key.path)) || !cursor.TakeNumber(&levels, 1) ||
      !cursor.TakeNumber(&count, 1) || count > kReplacedValuesPerKey)
    return 0;
  key.createdLevels = levels;
  key.valueCount = count;
  for (unsigned i = 0; i < count; ++i) {
    ReplacedValue& value = key.values[i];
    std::uint32_t flags = 0;
    if (!cursor.TakeText(value.name, sizeof(value.name)) || !cursor.TakeNumber(&flags, 1) || flags > 3) return 0;
    value.existed = (flags & kExisted) != 0;
    value.whole = (flags & kWhole) != 0;
    if (!value.whole) continue;
    std::uint32_t type = 0;
    std::uint32_t bytes = 0;
    if (!value.existed || !cursor.TakeNumber(&type, 4) || !cursor.TakeNumber(&bytes, 4) ||
        bytes > sizeof(value.data) || !cursor.Take(value.data, bytes))
      return 0;
    value.type = type;
    value.size = bytes;
  }
  return cursor.at;
}
