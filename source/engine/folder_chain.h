// The way down to the folder a file is written in, walked one folder at a time from
// the volume's root, each folder opened relative to the one above it and held
// (shared/held_folder.h). A reparse point (junction, symbolic link, mount point), a
// file standing where a folder should be, or another volume on the way is refused.
// Each checked folder stays open, counted in sharing checks and without delete
// sharing, while the chain holds it, so nobody can rename it and put a link in its
// place until the work there is done; the work itself goes through End().
#pragma once
#include <windows.h>

#include <cstddef>
#include <memory>

#include "shared/file_identity.h"
#include "shared/path_buffer.h"
#include "shared/progress_report.h"
#include "shared/raii.h"

// Told of each folder a walk is about to create and of each it created, so that a run
// can journal its intent first and remove what it made when it is undone.
class FolderRecorder {
 public:
  virtual ~FolderRecorder() = default;
  // False: the folder is not created (the walk fails).
  virtual bool WillCreate(const char* path) = 0;
  // The folder just created, held; false fails the walk.
  virtual bool Created(const char* path, HANDLE folder) = 0;
};

enum class WayResult {
  Held,          // every folder exists, none is a link; all are held open
  Missing,       // (no creation asked) a folder from here down does not exist yet
  Link,          // a folder on the way is a reparse point
  NotAFolder,    // a file stands where a folder should be
  CreateFailed,  // a missing folder could not be created, or an existing one not opened
};

class FolderChain {
 public:
  FolderChain() = default;
  FolderChain(const FolderChain&) = delete;
  FolderChain& operator=(const FolderChain&) = delete;

  // Makes `folder` (an absolute path without a trailing separator) the chain's end.
  // Folders the chain already holds are not walked again, whichever way reached them.
  // From the first folder below the volume's root down, each existing folder is
  // checked and held; a missing one is created when `create` is set (with the Users
  // entry when `grantAccess`, and told to `report`), else the walk stops there with
  // Missing. A `recorder` hears of each folder before and after it is created.
  WayResult Reach(const char* folder, bool create, BYTE grantAccess, ProgressReport* report = nullptr,
                  FolderRecorder* recorder = nullptr);

  // The held folder at the chain's end (valid after Held), and its path.
  HANDLE End() const;
  const char* Path() const { return path_; }
  // The volume the chain's end lies on (the way holds no link, so no other volume is
  // mounted on it).
  DWORD VolumeSerial() const;

  void Release();

 private:
  struct HeldFolder {
    char path[kPathCapacity];
    std::size_t length;
    UniqueHandle handle;
    DWORD volumeSerial;
  };
  // Enough for the folders of any payload; beyond it the chain starts afresh.
  static constexpr std::size_t kCapacity = 256;

  int Find(const char* path, std::size_t length) const;
  WayResult Walk(bool create, BYTE grantAccess, ProgressReport* report, FolderRecorder* recorder);

  std::unique_ptr<HeldFolder[]> held_;  // allocated on first use
  std::size_t count_ = 0;
  int end_ = -1;
  char path_[kPathCapacity] = {};
};

// Copies `folder` into `out` (kPathCapacity bytes) without trailing separators, with
// every '/' turned into '\'. False when it does not fit.
bool NormaliseFolder(char* out, const char* folder);
