#include "engine/folder_chain.h"

#include <shlwapi.h>

#include <cstring>

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

HANDLE FolderChain::End() const { return depth_ > 0 ? held_[depth_ - 1].Get() : nullptr; }

void FolderChain::Release() {
  while (depth_ > 0) held_[--depth_].Reset();
  path_[0] = '\0';
  endFinalKnown_ = false;
}

const char* FolderChain::EndFinalPath() {
  if (depth_ == 0) return nullptr;
  if (!endFinalKnown_) endFinalKnown_ = FinalPathOf(End(), endFinal_);
  return endFinalKnown_ ? endFinal_ : nullptr;
}

WayResult FolderChain::Reach(const char* folder, bool create, BYTE grantAccess) {
  const std::size_t length = BoundedLength(folder, kPathCapacity);
  if (length == 0 || length == kPathCapacity) {
    Release();
    return WayResult::CreateFailed;
  }
  // Folders already held that lie on the new way stay held.
  std::size_t keep = 0;
  while (keep < depth_) {
    const std::size_t end = heldEnd_[keep];
    if (end > length || (end < length && folder[end] != '\\') || std::memcmp(path_, folder, end) != 0) break;
    ++keep;
  }
  if (keep < depth_ || std::strcmp(path_, folder) != 0) endFinalKnown_ = false;
  while (depth_ > keep) held_[--depth_].Reset();
  CopyPath(path_, folder);

  // The volume's root ("C:\", "\\server\share\") is where the walk begins; it is the
  // system's, not a folder of this run.
  const char* afterRoot = PathSkipRootA(path_);
  std::size_t position = afterRoot ? static_cast<std::size_t>(afterRoot - path_) : 0;
  if (depth_ > 0) position = heldEnd_[depth_ - 1] + 1;

  char prefix[kPathCapacity];
  while (position < length) {
    const char* separator = static_cast<const char*>(std::memchr(path_ + position, '\\', length - position));
    const std::size_t end = separator ? static_cast<std::size_t>(separator - path_) : length;
    if (depth_ == kMaxDepth) return WayResult::CreateFailed;
    std::memcpy(prefix, path_, end);
    prefix[end] = '\0';

    DWORD attributes = GetFileAttributesA(prefix);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      if (!create) return WayResult::Missing;
      if (!CreateSingleFolder(prefix, grantAccess) && GetLastError() != ERROR_ALREADY_EXISTS)
        return WayResult::CreateFailed;
      attributes = GetFileAttributesA(prefix);
      if (attributes == INVALID_FILE_ATTRIBUTES) return WayResult::CreateFailed;
    }
    // By name first: Wine shows a Unix symbolic link here, and nothing is opened
    // through a link.
    WayResult verdict = Classify(attributes);
    if (verdict != WayResult::Held) return verdict;
    UniqueHandle handle = HoldFolder(prefix);
    if (!handle) return WayResult::CreateFailed;
    if (depth_ == 0) {
      // The first folder below the root tells the volume for the whole way.
      FileIdentity identity;
      if (!ReadIdentity(handle.Get(), &identity, &attributes)) return WayResult::CreateFailed;
      volumeSerial_ = identity.volumeSerial;
    } else if (!ReadAttributes(handle.Get(), &attributes)) {
      return WayResult::CreateFailed;
    }
    // Then what was opened: Windows shows a link that took the name meanwhile here.
    verdict = Classify(attributes);
    if (verdict != WayResult::Held) return verdict;
    held_[depth_] = std::move(handle);
    heldEnd_[depth_] = end;
    ++depth_;
    position = end + 1;
  }
  return depth_ > 0 ? WayResult::Held : WayResult::CreateFailed;
}
