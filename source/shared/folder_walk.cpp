#include "shared/folder_walk.h"

#include <shlwapi.h>

#include <cstring>
#include <new>

#include "shared/code_page_case.h"
#include "shared/file_identity.h"
#include "shared/folder_access.h"

namespace {

// What a refused child tells the walk.
WayResult Verdict(ChildResult result) {
  switch (result) {
    case ChildResult::Done: return WayResult::Held;
    case ChildResult::Missing: return WayResult::Missing;
    case ChildResult::Link: return WayResult::Link;
    case ChildResult::NotAFolder: return WayResult::NotAFolder;
    case ChildResult::Exists:
    case ChildResult::Failed: break;
  }
  return WayResult::CreateFailed;
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

HANDLE FolderWalk::End() const { return end_ >= 0 ? held_[static_cast<std::size_t>(end_)].handle.Get() : nullptr; }

DWORD FolderWalk::VolumeSerial() const {
  return end_ >= 0 ? held_[static_cast<std::size_t>(end_)].volumeSerial : 0;
}

void FolderWalk::Release() {
  for (std::size_t i = 0; i < count_; ++i) held_[i].handle.Reset();
  count_ = 0;
  end_ = -1;
}

int FolderWalk::Find(const char* path, std::size_t length) const {
  for (std::size_t i = 0; i < count_; ++i)
    if (held_[i].length == length && SameTextCp1251(held_[i].path, path, length)) return static_cast<int>(i);
  return -1;
}

WayResult FolderWalk::Reach(const char* folder, bool create, BYTE grantAccess, ProgressReport* report,
                             FolderRecorder* recorder) {
  end_ = -1;
  stop_ = 0;
  if (CopyPath(path_, folder) != PathResult::Ok || path_[0] == '\0') return WayResult::CreateFailed;
  if (!held_) {
    held_.reset(new (std::nothrow) HeldFolder[kCapacity]);
    if (!held_) return WayResult::CreateFailed;
  }
  // A way longer than what is left starts the walk afresh.
  if (count_ + kPathCapacity / 2 > kCapacity) Release();
  return Walk(create, grantAccess, report, recorder);
}

WayResult FolderWalk::Walk(bool create, BYTE grantAccess, ProgressReport* report, FolderRecorder* recorder) {
  const std::size_t length = std::strlen(path_);
  // The volume's root ("C:\", "\\server\share\") is where the walk begins; it is the
  // system's, not a folder of this run, and is opened by name.
  const char* afterRoot = PathSkipRootA(path_);
  if (afterRoot == nullptr) return WayResult::CreateFailed;
  std::size_t position = static_cast<std::size_t>(afterRoot - path_);
  std::size_t rootLength = position;
  while (rootLength > 0 && path_[rootLength - 1] == '\\') --rootLength;
  if (rootLength == 0) return WayResult::CreateFailed;
  int parent = Find(path_, rootLength);
  if (parent < 0) {
    if (count_ == kCapacity) return WayResult::CreateFailed;
    HeldFolder& root = held_[count_];
    std::memcpy(root.path, path_, rootLength);
    root.path[rootLength] = '\0';
    root.length = rootLength;
    char rootPath[kPathCapacity];
    std::memcpy(rootPath, path_, position);
    rootPath[position] = '\0';
    root.handle = OpenVolumeRoot(rootPath);
    FileIdentity identity;
    if (!root.handle || !ReadIdentity(root.handle.Get(), &identity)) return WayResult::CreateFailed;
    root.volumeSerial = identity.volumeSerial;
    parent = static_cast<int>(count_++);
  }
  const DWORD volumeSerial = held_[static_cast<std::size_t>(parent)].volumeSerial;
  while (position < length) {
    const char* separator = static_cast<const char*>(std::memchr(path_ + position, '\\', length - position));
    const std::size_t end = separator ? static_cast<std::size_t>(separator - path_) : length;
    const std::size_t nameStart = position;
    position = end + 1;
    if (end == nameStart) continue;  // "\\" inside a path separates nothing
    stop_ = end;
    const int found = Find(path_, end);
    if (found >= 0) {
      parent = end_ = found;
      continue;
    }
    if (count_ == kCapacity || end - nameStart >= kPathCapacity) return WayResult::CreateFailed;
    HeldFolder& entry = held_[count_];
    std::memcpy(entry.path, path_, end);
    entry.path[end] = '\0';
    entry.length = end;
    char name[kPathCapacity];
    std::memcpy(name, path_ + nameStart, end - nameStart);
    name[end - nameStart] = '\0';
    const HANDLE parentHandle = held_[static_cast<std::size_t>(parent)].handle.Get();

    ChildResult opened = OpenChildFolder(parentHandle, name, volumeSerial, &entry.handle);
    bool created = false;
    if (opened == ChildResult::Missing && create) {
      // Made relative to its held parent; one that appeared meanwhile is opened and
      // checked like any other.
      if (recorder && !recorder->WillCreate(entry.path)) return WayResult::CreateFailed;
      if (beforeCreate_ != nullptr) beforeCreate_();
      opened = CreateFolderIn(parentHandle, name, entry.path, grantAccess, &entry.handle);
      created = opened == ChildResult::Done;
      if (created && report) report->FolderCreated(entry.path);
      if (opened == ChildResult::Exists) opened = OpenChildFolder(parentHandle, name, volumeSerial, &entry.handle);
    }
    if (opened != ChildResult::Done) return Verdict(opened);
    if (created && recorder && !recorder->Created(entry.path, entry.handle.Get())) return WayResult::CreateFailed;
    entry.volumeSerial = volumeSerial;
    parent = end_ = static_cast<int>(count_++);
  }
  stop_ = length;
  // The volume's root alone is held as well.
  end_ = parent;
  return WayResult::Held;
}

