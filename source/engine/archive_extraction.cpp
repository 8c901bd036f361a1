#include "engine/archive_extraction.h"

#include <shlwapi.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <new>

#include "engine/extraction_pace.h"
#include "shared/folder_creation.h"
#include "shared/path_buffer.h"
#include "shared/texts.h"

namespace {

constexpr std::size_t kChunkSize = 128;
// The 128-byte chunks reach the file in writes of up to this size.
constexpr std::size_t kGatherSize = 1024 * 1024;
constexpr int kFullFilePosition = 1000;

// Fails the archive with `message` about `path`, with the last system error; always
// false, so callers can return it.
bool Fail(InstallerState& state, const char* message, const char* path) {
  ReportFailure(state, message, path, GetLastError());
  return false;
}

void RecordCreatedFile(InstallerState& state, const char* path) {
  if (state.createdFileCount < 0 || state.createdFileCount >= kMaxCreatedFiles) return;
  CopyPath(state.createdFiles[state.createdFileCount], path);
  ++state.createdFileCount;
}

enum class WriteOutcome { Complete, Cancelled, WriteFailed };

// The buffering of a file's output. An entry's chunks lie one after another in the
// read-only archive, so they are gathered in place, as a growing range of the archive,
// and handed to the unbuffered stream in writes of up to 1 MiB: no chunk is copied,
// and no 128-byte write becomes a system call of its own.
class GatheredOutput {
 public:
  GatheredOutput(std::ofstream& file, const unsigned char* data) : file_(file), data_(data) {}

  // The next `length` bytes of the entry have been written to the stream.
  bool Add(std::size_t length) {
    pending_ += length;
    return pending_ < kGatherSize || Flush();
  }
  // Hands every gathered byte to the file; false when the file did not take them.
  bool Flush() {
    if (pending_ == 0) return true;
    const bool written = static_cast<bool>(
        file_.write(reinterpret_cast<const char*>(data_ + flushed_), static_cast<std::streamsize>(pending_)));
    flushed_ += pending_;
    pending_ = 0;
    return written;
  }

 private:
  std::ofstream& file_;
  const unsigned char* data_;
  std::size_t flushed_ = 0;
  std::size_t pending_ = 0;
};

// Writes one entry's bytes in 128-byte chunks, honouring pause and cancel before
// every chunk and reporting the file's per-mille position when it changes.
WriteOutcome WriteEntryData(InstallerState& state, GatheredOutput& output, std::uint64_t size) {
  ProgressReport& progress = ProgressOf(state);
  const std::uint64_t unit = size / 1000;
  // 64-bit division is a library call on i686: the position is worked out only
  // when the bytes written reach the next multiple of the unit.
  std::uint64_t nextStep = unit;
  std::uint64_t lastPosition = 0;
  progress.FilePosition(0);

  std::uint64_t written = 0;
  for (;;) {
    while (state.extractionPaused.load()) Sleep(1000);
    if (state.cancelRequested.load()) return WriteOutcome::Cancelled;
    const std::uint64_t left = size - written;
    const std::size_t chunkLength = left < kChunkSize ? static_cast<std::size_t>(left) : kChunkSize;
    if (!output.Add(chunkLength)) return WriteOutcome::WriteFailed;
    written += chunkLength;

    const bool complete = written >= size;
    if (complete || unit == 0 || written >= nextStep) {
      const std::uint64_t position = unit > 0 ? written / unit : kFullFilePosition;
      nextStep = (position + 1) * unit;
      if (position != lastPosition) {
        progress.FilePosition(static_cast<int>(position));
        lastPosition = position;
      }
    }
    if (complete) return WriteOutcome::Complete;
  }
}

}  // namespace

bool ExtractArchive(InstallerState& state, const ArchiveView& archive, const char* destinationFolder,
                    int progressBase, bool grantAccess) {
  if (archive.count <= 0) return true;
  const auto count = static_cast<std::size_t>(archive.count);
  // A copy, because the file name is cut out of sourcePath in place and the
  // resource is read-only.
  std::unique_ptr<PayloadEntry[]> table(new (std::nothrow) PayloadEntry[count]);
  if (!table) return Fail(state, texts::kInstallFilesFailed, destinationFolder);
  std::memcpy(table.get(), archive.base + kPayloadHeaderSize, count * kPayloadEntrySize);
  const unsigned char* cursor = archive.base + archive.dataOffset;
  char path[kPathCapacity];
  // Entries of one folder follow each other: a folder made for the entry before is
  // not walked again (each walk costs a system call per path component).
  char lastFolder[kPathCapacity] = {};
  char lastCreated[kPathCapacity] = {};
  for (std::size_t i = 0; i < count; ++i) {
    PayloadEntry& entry = table[i];
    // A path cut to fit would land somewhere else: refuse it instead.
    if (CopyPath(path, destinationFolder) != PathResult::Ok || AppendPath(path, entry.relativeFolder) != PathResult::Ok)
      return Fail(state, texts::kInstallFoldersFailed, destinationFolder);
    if (lastFolder[0] != '\0' && std::strcmp(path, lastFolder) == 0) {
      CopyPath(path, lastCreated);
    } else {
      CopyPath(lastFolder, path);
      if (!CreateFolderPath(nullptr, path, grantAccess ? 1 : 0, &ProgressOf(state)))
        return Fail(state, texts::kInstallFoldersFailed, path);
      CopyPath(lastCreated, path);  // as CreateFolderPath normalised it
    }

    PathStripPathA(entry.sourcePath);
    if (AppendPath(path, "\\") != PathResult::Ok || AppendPath(path, entry.sourcePath) != PathResult::Ok)
      return Fail(state, texts::kInstallFilesFailed, path);
    // createdFiles must hold every file written, so no file is started without room.
    if (state.createdFileCount >= kMaxCreatedFiles) return Fail(state, texts::kInstallFilesFailed, path);

    ProgressOf(state).FileStarted(path);
    // Binary, truncating; other processes may read and write the file meanwhile.
    // Unbuffered: GatheredOutput does the buffering without copying.
    std::ofstream file;
    file.rdbuf()->pubsetbuf(nullptr, 0);
    file.open(path, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!file.is_open()) return Fail(state, texts::kInstallFilesFailed, path);

    GatheredOutput output(file, cursor);
    WriteOutcome outcome = WriteEntryData(state, output, entry.size);
    cursor += static_cast<std::size_t>(entry.size);
    // What was written before a cancel stays in the file, as the chunks it had taken.
    if (!output.Flush() && outcome != WriteOutcome::Cancelled) outcome = WriteOutcome::WriteFailed;
    file.close();  // a full disk shows here at the latest
    const bool closed = !file.fail();
    RecordCreatedFile(state, path);
    if (outcome == WriteOutcome::Cancelled) {
      SetLastError(ERROR_CANCELLED);
      return Fail(state, texts::kCancelledByUser, path);
    }
    if (outcome == WriteOutcome::WriteFailed || !closed) return Fail(state, texts::kInstallFilesWriteFailed, path);

    ProgressOf(state).FilesDone(progressBase + static_cast<int>(i) + 1);
    PaceExtractedFile();
  }
  return true;
}
