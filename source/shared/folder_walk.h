// The way down to a folder, walked one folder at a time from the volume's root, each
// folder opened relative to the one above it and held (shared/held_folder.h). A
// reparse point (junction, symbolic link, mount point), a file standing where a
// folder should be, or another volume on the way is refused. Each checked folder
// stays open, counted in sharing checks and without delete sharing, while the walk
// holds it, so nobody can rename it and put a link in its place until the work there
// is done; the work itself goes through End().
#pragma once
#include <windows.h>

#include <cstddef>
#include <memory>

#include "shared/held_folder.h"
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

class FolderWalk {
 public:
  // `beforeCreate` (when given) is called just before each folder the walk creates.
  explicit FolderWalk(void (*beforeCreate)() = nullptr) : beforeCreate_(beforeCreate) {}
  FolderWalk(const FolderWalk&) = delete;
  FolderWalk& operator=(const FolderWalk&) = delete;

  // Makes `folder` (an absolute path without a trailing separator) the walk's end.
  // Folders the walk already holds are not walked again, whichever way reached them
  // (names compared as the file system does, shared/code_page_case.h). From the first
  // folder below the volume's root down, each existing folder is checked and held; a
  // missing one is created when `create` is set (with the Users entry when
  // `grantAccess`, and told to `report`), else the walk stops there with Missing. A
  // `recorder` hears of each folder before and after it is created. On a result
  // other than Held, the last error tells why the system refused.
  WayResult Reach(const char* folder, bool create, BYTE grantAccess, ProgressReport* report = nullptr,
                  FolderRecorder* recorder = nullptr);

  // The held folder at the walk's end (valid after Held), and its path.
  HANDLE End() const;
  const char* Path() const { return path_; }
  // The volume the walk's end lies on (the way holds no link, so no other volume is
  // mounted on it).
  DWORD VolumeSerial() const;
  // How much of the path the last walk reached: the length up to the end of the
  // folder it stopped at (the whole path after Held), 0 when it stopped at the
  // volume's root or before it.
  std::size_t Reached() const { return stop_; }

  void Release();

 private:
  struct HeldFolder {
    char path[kPathCapacity];
    std::size_t length;
    UniqueHandle handle;
    DWORD volumeSerial;
  };
  // Enough for the folders of any payload; beyond it the walk starts afresh.
  static constexpr std::size_t kCapacity = 256;

  int Find(const char* path, std::size_t length) const;
  WayResult Walk(bool create, BYTE grantAccess, ProgressReport* report, FolderRecorder* recorder);

  void (*beforeCreate_)();
  std::unique_ptr<HeldFolder[]> held_;  // allocated on first use
  std::size_t count_ = 0;
  int end_ = -1;
  std::size_t stop_ = 0;
  char path_[kPathCapacity] = {};
};

// Copies `folder` into `out` (kPathCapacity bytes) without trailing separators, with
// every '/' turned into '\'. False when it does not fit or nothing is left.
bool NormaliseFolder(char* out, const char* folder);
