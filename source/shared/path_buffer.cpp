#include "shared/path_buffer.h"

#include <cstring>

std::size_t BoundedLength(const char* text, std::size_t capacity) {
  const void* end = std::memchr(text, '\0', capacity);
  return end ? static_cast<std::size_t>(static_cast<const char*>(end) - text) : capacity;
}

PathResult CopyText(char* destination, std::size_t capacity, const char* source) {
  destination[0] = '\0';
  return AppendText(destination, capacity, source);
}

PathResult AppendText(char* destination, std::size_t capacity, const char* source) {
  const std::size_t used = BoundedLength(destination, capacity);
  if (used == capacity) return PathResult::InvalidArgument;
  const std::size_t room = capacity - 1 - used;
  const std::size_t wanted = std::strlen(source);
  const std::size_t taken = wanted < room ? wanted : room;
  std::memcpy(destination + used, source, taken);
  destination[used + taken] = '\0';
  return taken == wanted ? PathResult::Ok : PathResult::BufferTooSmall;
}

PathResult CopyPath(char* destination, const char* source) {
  return CopyText(destination, kPathCapacity, source);
}

PathResult AppendPath(char* destination, const char* source) {
  return AppendText(destination, kPathCapacity, source);
}
