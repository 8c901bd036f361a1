#include "engine/folder_chain.h"

#include <shlwapi.h>

#include <cstring>
#include <new>

#include "shared/file_identity.h"
#include "shared/folder_creation.h"

namespace {

// Opened for nothing but its attributes, sharing reading and writing but not deletion:
// the folder cannot be renamed or removed while this handle is open. Where another
// process already holds it with delete access, the folder is opened sharing that too
// (checked, but no longer pinned).
UniqueHandle HoldFolder(const char* path) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
  UniqueHandle folder(
      CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr));
  if (!folder && GetLastError() == ERROR_SHARING_VIOLATION) {
    folder.Reset(CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, flags, nullptr));
  }
  return folder;
}

// What the attributes say about a folder on the way.
WayResult Classify(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return WayResult::Link;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return WayResult::NotAFolder;
  return WayResult::Held;
}

}  // namespace

bool NormaliseFolder(char* out, const char* folder) {
  if (CopyPath(out, folder) != PathResult::Ok) return false;
  std::size_t length = std::strlen(out);
  for (std::size_t i = 0; i < length; ++i)
    if (out[i] == '/') out[i] = '\\';
  while (length > 0 && out[length - 1] == '\\') out[--length] = '\0';
  return length > 0;
}

HANDLE FolderChain::End() const { return end_ >= 0 ? held_[static_cast<std::size_t>(end_)].handle.Get() : nullptr; }

DWORD FolderChain::VolumeSerial() const {
  return end_ >= 0 ? held_[static_cast<std::size_t>(end_)].volumeSerial : 0;
}

void FolderChain::Release() {
  for (std::size_t i = 0; i < count_; ++i) held_[i].handle.Reset();
  count_ = 0;
  end_ = -1;
}

int FolderChain::Find(const char* path, std::size_t length) const {
  for (std::size_t i = 0; i < count_; ++i)
    if (held_[i].length == length && std::memcmp(held_[i].path, path, length) == 0) return static_cast<int>(i);
  return -1;
}

WayResult FolderChain::Reach(const char* folder, bool create, BYTE grantAccess, ProgressReport* report) {
  end_ = -1;
  if (CopyPath(path_, folder) != PathResult::Ok || path_[0] == '\0') return WayResult::CreateFailed;
  if (!held_) {
    held_.reset(new (std::nothrow) HeldFolder[kCapacity]);
    if (!held_) return WayResult::CreateFailed;
  }
  // A way longer than what is left starts the chain afresh.
  if (count_ + kPathCapacity / 2 > kCapacity) Release();
  return Walk(create, grantAccess, report);
}

WayResult FolderChain::Walk(bool create, BYTE grantAccess, ProgressReport* report) {
  const std::size_t length = std::strlen(path_);
  // The volume's root ("C:\", "\\server\share\") is where the walk begins; it is the
  // system's, not a folder of this run.
  const char* afterRoot = PathSkipRootA(path_);
  std::size_t position = afterRoot ? static_cast<std::size_t>(afterRoot - path_) : 0;
  DWORD volumeSerial = 0;
  while (position < length) {
    const char* separator = static_cast<const char*>(std::memchr(path_ + position, '\\', length - position));
    const std::size_t end = separator ? static_cast<std::size_t>(separator - path_) : length;
    position = end + 1;
    const int found = Find(path_, end);
    if (found >= 0) {
      end_ = found;
      volumeSerial = held_[static_cast<std::size_t>(found)].volumeSerial;
      continue;
    }
    if (count_ == kCapacity) return WayResult::CreateFailed;
    HeldFolder& entry = held_[count_];
    std::memcpy(entry.path, path_, end);
    entry.path[end] = '\0';
    entry.length = end;

    DWORD attributes = GetFileAttributesA(entry.path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      if (!create) return WayResult::Missing;
      if (!CreateSingleFolder(entry.path, grantAccess) && GetLastError() != ERROR_ALREADY_EXISTS)
        return WayResult::CreateFailed;
      attributes = GetFileAttributesA(entry.path);
      if (attributes == INVALID_FILE_ATTRIBUTES) return WayResult::CreateFailed;
      if (report) report->FolderCreated(entry.path);
    }
    // By name first: Wine shows a Unix symbolic link here, and nothing is opened
    // through a link.
    WayResult verdict = Classify(attributes);
    if (verdict != WayResult::Held) return verdict;
    entry.handle = HoldFolder(entry.path);
    if (!entry.handle) return WayResult::CreateFailed;
    if (end_ < 0) {
      // The first folder below the root tells the volume for the whole way.
      FileIdentity identity;
      if (!ReadIdentity(entry.handle.Get(), &identity, &attributes)) return WayResult::CreateFailed;
      volumeSerial = identity.volumeSerial;
    } else if (!ReadAttributes(entry.handle.Get(), &attributes)) {
      return WayResult::CreateFailed;
    }
    // Then what was opened: Windows shows a link that took the name meanwhile here.
    verdict = Classify(attributes);
    if (verdict != WayResult::Held) {
      entry.handle.Reset();
      return verdict;
    }
    entry.volumeSerial = volumeSerial;
    end_ = static_cast<int>(count_++);
  }
  return end_ >= 0 ? WayResult::Held : WayResult::CreateFailed;
}
