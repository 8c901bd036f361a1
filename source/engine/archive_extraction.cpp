#include "engine/archive_extraction.h"

#include <commctrl.h>
#include <share.h>
#include <shlwapi.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "engine/folder_creation.h"
#include "resource_ids.h"
#include "shared/path_buffer.h"
#include "shared/texts.h"

namespace {

constexpr std::size_t kChunkSize = 128;
// The stream gathers the 128-byte chunks into writes of this size.
constexpr std::size_t kStreamBufferSize = 1024 * 1024;
constexpr WPARAM kFullFilePosition = 1000;

std::atomic<DWORD> g_fileProgressInterval{kDefaultFileProgressInterval};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

void SendToPage(const InstallerState& state, int control, UINT message, WPARAM wParam, LPARAM lParam) {
  SendDlgItemMessageA(state.progressPageWindow, control, message, wParam, lParam);
}

// Fails the archive with `message`; always false, so callers can return it.
bool Fail(InstallerState& state, const char* message) {
  SetErrorText(state, message);
  return false;
}

void RecordCreatedFile(InstallerState& state, const char* path) {
  if (state.createdFileCount < 0 || state.createdFileCount >= kMaxCreatedFiles) return;
  CopyPath(state.createdFiles[state.createdFileCount], path);
  ++state.createdFileCount;
}

enum class WriteOutcome { Complete, Cancelled, WriteFailed };

// Writes one entry's bytes in 128-byte chunks, honouring pause and cancel before
// every chunk and moving the file bar when its per-mille position changes.
WriteOutcome WriteEntryData(InstallerState& state, std::FILE* file, const unsigned char* data, std::uint64_t size) {
  const std::uint64_t unit = size / 1000;
  // 64-bit division is a library call on i686: the position is worked out only
  // when the bytes written reach the next multiple of the unit.
  std::uint64_t nextStep = unit;
  std::uint64_t lastPosition = 0;
  SendToPage(state, IDC_PROGRESS_FILE, PBM_SETPOS, 0, 0);
  const DWORD interval = g_fileProgressInterval.load();
  DWORD lastSent = GetTickCount();

  std::uint64_t written = 0;
  for (;;) {
    while (state.extractionPaused.load()) Sleep(1000);
    if (state.cancelRequested.load()) return WriteOutcome::Cancelled;
    const std::uint64_t left = size - written;
    // The archive is mapped read-only and stays put: chunks go to the stream from it directly.
    const std::size_t chunkLength = left < kChunkSize ? static_cast<std::size_t>(left) : kChunkSize;
    if (chunkLength != 0 &&
        std::fwrite(data + static_cast<std::size_t>(written), 1, chunkLength, file) != chunkLength)
      return WriteOutcome::WriteFailed;
    written += chunkLength;

    const bool complete = written >= size;
    if (complete || unit == 0 || written >= nextStep) {
      const std::uint64_t position = unit > 0 ? written / unit : kFullFilePosition;
      nextStep = (position + 1) * unit;
      // Each send is a round trip to the page's thread; between a file's first and
      // last position they are spaced out in time.
      const DWORD now = GetTickCount();
      if (position != lastPosition && (complete || now - lastSent >= interval)) {
        SendToPage(state, IDC_PROGRESS_FILE, PBM_SETPOS, static_cast<WPARAM>(position), 0);
        lastPosition = position;
        lastSent = now;
      }
    }
    if (complete) return WriteOutcome::Complete;
  }
}

}  // namespace

DWORD SetFileProgressInterval(DWORD milliseconds) { return g_fileProgressInterval.exchange(milliseconds); }

bool ExtractArchive(InstallerState& state, const ArchiveView& archive, const char* destinationFolder,
                    int progressBase, bool grantAccess) {
  if (archive.count <= 0) return true;
  const auto count = static_cast<std::size_t>(archive.count);
  // A copy, because the file name is cut out of sourcePath in place and the
  // resource is read-only.
  std::unique_ptr<PayloadEntry[]> table(new (std::nothrow) PayloadEntry[count]);
  if (!table) return Fail(state, texts::kInstallFilesFailed);
  std::memcpy(table.get(), archive.base + kPayloadHeaderSize, count * kPayloadEntrySize);
  std::unique_ptr<char[]> streamBuffer(new (std::nothrow) char[kStreamBufferSize]);
  if (!streamBuffer) return Fail(state, texts::kInstallFilesFailed);

  const unsigned char* cursor = archive.base + archive.dataOffset;
  char path[kPathCapacity];
  for (std::size_t i = 0; i < count; ++i) {
    PayloadEntry& entry = table[i];
    // A path cut to fit would land somewhere else: refuse it instead.
    if (CopyPath(path, destinationFolder) != PathResult::Ok || AppendPath(path, entry.relativeFolder) != PathResult::Ok)
      return Fail(state, texts::kInstallFoldersFailed);
    if (!CreateFolderPath(nullptr, path, grantAccess ? 1 : 0)) return Fail(state, texts::kInstallFoldersFailed);

    PathStripPathA(entry.sourcePath);
    if (AppendPath(path, "\\") != PathResult::Ok || AppendPath(path, entry.sourcePath) != PathResult::Ok)
      return Fail(state, texts::kInstallFilesFailed);
    // createdFiles must hold every file written, so no file is started without room.
    if (state.createdFileCount >= kMaxCreatedFiles) return Fail(state, texts::kInstallFilesFailed);

    SendToPage(state, IDC_PROGRESS_CURRENT_FILE, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path));
    // Binary, truncating; other processes may read and write the file meanwhile.
    UniqueFile file(_fsopen(path, "wb", _SH_DENYNO));
    if (!file) return Fail(state, texts::kInstallFilesFailed);
    // Without the large buffer every chunk would be a system call of its own; the
    // bytes still arrive if it cannot be set, only more slowly.
    (void)std::setvbuf(file.get(), streamBuffer.get(), _IOFBF, kStreamBufferSize);

    const WriteOutcome outcome = WriteEntryData(state, file.get(), cursor, entry.size);
    cursor += static_cast<std::size_t>(entry.size);
    const bool closed = std::fclose(file.release()) == 0;
    RecordCreatedFile(state, path);
    if (outcome == WriteOutcome::Cancelled) return Fail(state, texts::kCancelledByUser);
    if (outcome == WriteOutcome::WriteFailed || !closed) return Fail(state, texts::kInstallFilesWriteFailed);

    SendToPage(state, IDC_PROGRESS_OVERALL, PBM_SETPOS, static_cast<WPARAM>(progressBase) + i + 1, 0);
  }
  return true;
}
