#include "wizard/folder_failure_box.h"

#include "shared/path_buffer.h"
#include "shared/texts.h"

namespace {

// Room for the longest path, the line feed and the longest sentence.
constexpr std::size_t kFolderMessageCapacity = kPathCapacity + 256;

}  // namespace

void ShowFolderFailure(HWND owner, const char* path, const char* sentence) {
  char message[kFolderMessageCapacity];
  CopyText(message, sizeof(message), path);
  AppendText(message, sizeof(message), "\n");
  AppendText(message, sizeof(message), sentence);
  MessageBoxA(owner, message, texts::kErrorCaption, MB_OK);
}
