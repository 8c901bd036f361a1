#include "shared/folder_creation.h"

#include <shlwapi.h>

#include <atomic>
#include <cstring>

#include "shared/folder_walk.h"
#include "shared/path_buffer.h"
#include "shared/raii.h"
#include "shared/failure_texts.h"
#include "shared/texts.h"

namespace {

FailureCause FolderFailureCause(DWORD error) {
  switch (error) {
    case ERROR_PATH_NOT_FOUND:
      return FailureCause::FolderPathUnknown;
    case ERROR_ACCESS_DENIED:
      return FailureCause::FolderAccessDenied;
    default:
      return FailureCause::FolderCreateFailed;
  }
}

}  // namespace

bool PassesThroughLink(const char* path) {
  if (BoundedLength(path, kPathCapacity) == kPathCapacity) return true;
  char folder[kPathCapacity];
  if (!NormaliseFolder(folder, path)) return false;  // nothing but separators
  FolderWalk walk;
  return walk.Reach(folder, false, 0) == WayResult::Link;
}

bool RefuseFolderThroughLink(const char* path, ProgressReport* report) {
  if (!PassesThroughLink(path)) return false;
  if (report) report->StepFailed(FailureCause::ChosenFolderThroughLink, path, ERROR_REPARSE_ATTRIBUTE_CONFLICT);
  return true;
}


FailureCause CreateFolderPath(char* path, BYTE grantAccess, ProgressReport* report) {
  std::size_t length = BoundedLength(path, kPathCapacity);
  if (length == kPathCapacity) path[--length] = '\0';  // never read past the buffer
  for (std::size_t i = 0; i < length; ++i)
    if (path[i] == '/') path[i] = '\\';
  while (length > 0 && path[length - 1] == '\\') path[--length] = '\0';

  FolderWalk walk;
  const WayResult way = walk.Reach(path, true, grantAccess, report);
  if (way == WayResult::Held) return FailureCause::None;
  DWORD error = GetLastError();
  // A file standing at the path itself passes (the run's own walk refuses it later);
  // a folder on the way that is missing or cannot be made leaves the path unknown, as
  // does a path without a volume's root ("Rel\Sub", "").
  if (way == WayResult::NotAFolder && walk.Reached() == length) return FailureCause::None;
  if (way == WayResult::Link) error = ERROR_REPARSE_ATTRIBUTE_CONFLICT;
  else if ((walk.Reached() != 0 && walk.Reached() < length) || way == WayResult::NotAFolder ||
           PathSkipRootA(path) == nullptr)
    error = ERROR_PATH_NOT_FOUND;
  const FailureCause cause = way == WayResult::Link ? FailureCause::ChosenFolderThroughLink : FolderFailureCause(error);
  if (report) report->StepFailed(cause, path, error);
  return cause;
}
