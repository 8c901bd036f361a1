#include "engine/archive_extraction.h"

#include <cstring>

#include "engine/entry_data.h"
#include "engine/extraction_pace.h"
#include "engine/folder_chain.h"
#include "shared/path_buffer.h"

namespace {

constexpr std::size_t kChunkSize = 128;
// The 128-byte chunks reach the file in writes of up to this size.
constexpr std::size_t kGatherSize = 1024 * 1024;
constexpr int kFullFilePosition = 1000;

// Fails the archive for `cause` about `path`, with the last system error; always
// false, so callers can return it.
bool Fail(const InstallRun& run, FailureCause cause, const char* path) {
  return run.Fail(cause, path, GetLastError());
}

enum class WriteOutcome { Complete, Cancelled, WriteFailed, SourceFailed };

// The buffering of a file's output. The entry's chunks lie one after another in the
// spans its data source hands out (the read-only archive itself, or a decoded frame),
// so they are gathered in place, as a growing range of the span, and handed to the
// file in writes of up to 1 MiB: no chunk is copied, and no 128-byte write becomes a
// system call of its own.
class GatheredOutput {
 public:
  GatheredOutput(HANDLE file, EntryData& source) : file_(file), source_(source) {}

  // The next `length` bytes of the entry are taken for the file.
  bool Add(std::size_t length) {
    while (length > 0) {
      if (pending_ == available_) {
        if (!Flush()) return false;
        if (!source_.Next(&start_, &available_)) {
          sourceFailed_ = true;
          return false;
        }
      }
      const std::size_t room = available_ - pending_;
      const std::size_t taken = length < room ? length : room;
      pending_ += taken;
      length -= taken;
      if (pending_ >= kGatherSize && !Flush()) return false;
    }
    return true;
  }
  // Writes every gathered byte; false when the file did not take them all.
  bool Flush() {
    if (pending_ == 0) return true;
    DWORD written = 0;
    const auto length = static_cast<DWORD>(pending_);
    const bool complete = WriteFile(file_, start_, length, &written, nullptr) && written == length;
    source_.Consume(pending_);
    start_ += pending_;
    available_ -= pending_;
    pending_ = 0;
    return complete;
  }
  // Whether the data source, not the file, failed.
  bool SourceFailed() const { return sourceFailed_; }

 private:
  HANDLE file_;
  EntryData& source_;
  const unsigned char* start_ = nullptr;
  std::size_t available_ = 0;
  std::size_t pending_ = 0;
  bool sourceFailed_ = false;
};

// Writes one entry's bytes in 128-byte chunks, honouring pause and cancel before
// every chunk and reporting the file's per-mille position when it changes.
WriteOutcome WriteEntryData(const InstallRun& run, GatheredOutput& output, std::uint64_t size) {
  ProgressReport& progress = run.Progress();
  const std::uint64_t unit = size / 1000;
  // 64-bit division is a library call on i686: the position is worked out only
  // when the bytes written reach the next multiple of the unit.
  std::uint64_t nextStep = unit;
  std::uint64_t lastPosition = 0;
  progress.FilePosition(0);

  std::uint64_t written = 0;
  for (;;) {
    while (run.request.Paused()) Sleep(1000);
    if (run.request.CancelRequested()) return WriteOutcome::Cancelled;
    const std::uint64_t left = size - written;
    const std::size_t chunkLength = left < kChunkSize ? static_cast<std::size_t>(left) : kChunkSize;
    if (!output.Add(chunkLength)) return output.SourceFailed() ? WriteOutcome::SourceFailed : WriteOutcome::WriteFailed;
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

bool ExtractArchive(const InstallRun& run, const ArchiveView& archive, const char* destinationFolder,
                    int progressBase, bool grantAccess) {
  if (archive.count <= 0) return true;
  // The entries' bytes in archive order; a compressed archive starts decoding here,
  // ahead of the first file.
  EntryData source(archive);
  if (!source.Start()) return Fail(run, FailureCause::DecoderNotStarted, destinationFolder);
  return ExtractArchive(run, archive, source, destinationFolder, progressBase, grantAccess);
}

bool ExtractArchive(const InstallRun& run, const ArchiveView& archive, EntryData& source,
                    const char* destinationFolder, int progressBase, bool grantAccess) {
  if (archive.count <= 0) return true;
  char root[kPathCapacity];
  if (!NormaliseFolder(root, destinationFolder)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return Fail(run, FailureCause::FolderPathTooLong, destinationFolder);
  }

  FolderChain chain;
  RunFolderRecorder recorder(run);
  char folder[kPathCapacity];
  char path[kPathCapacity];
  for (std::int32_t i = 0; i < archive.count; ++i) {
    const PayloadEntry entry = ReadPayloadEntry(archive, i);
    // A path cut to fit would land somewhere else: refuse it instead.
    switch (ComposeEntryPaths(destinationFolder, entry, folder, path)) {
      case EntryPath::FolderTooLong:
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return Fail(run, FailureCause::FolderPathTooLong, destinationFolder);
      case EntryPath::FileTooLong:
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return Fail(run, FailureCause::FilePathTooLong, folder);
      case EntryPath::Ok:
        break;
    }
    // Consecutive entries of one folder walk nothing again: the chain still holds it.
    switch (chain.Reach(folder, true, grantAccess ? 1 : 0, &run.Progress(), &recorder)) {
      case WayResult::Held:
        break;
      case WayResult::Link:
        return Fail(run, FailureCause::FolderThroughLink, folder);
      case WayResult::CreateFailed:
        return Fail(run, FailureCause::FolderNotMade, folder);
      default:
        return Fail(run, FailureCause::FolderUnusable, folder);
    }
    // createdFiles must hold every file written, so no file is started without room.
    if (run.record.createdFileCount >= kMaxCreatedFiles) return Fail(run, FailureCause::TooManyFiles, path);

    run.Progress().FileStarted(path);
    UniqueHandle file;
    FileIdentity identity;
    // The run counts its entries as the overall progress does.
    const std::int32_t runIndex = progressBase + i;
    const int plannedKeep =
        runIndex >= 0 && runIndex < kMaxCreatedFiles ? run.record.plannedKeep[runIndex] : kNoPlannedKeep;
    const NewFileTarget target{root, &chain, PayloadFileName(entry), path, plannedKeep};
    const NewFile placed = CreateRunFile(run, target, &file, &identity);
    if (placed == NewFile::Refused) return Fail(run, FailureCause::FileNotCreated, path);
    if (placed == NewFile::NotJournalled) return Fail(run, FailureCause::JournalWriteFailed, path);
    if (placed != NewFile::Reused && !RecordCreatedFile(run, path, identity))
      return Fail(run, FailureCause::JournalWriteFailed, path);

    GatheredOutput output(file.Get(), source);
    WriteOutcome outcome = WriteEntryData(run, output, entry.size);
    // What was written before a cancel stays in the file, as the chunks it had taken.
    if (!output.Flush() && outcome == WriteOutcome::Complete) outcome = WriteOutcome::WriteFailed;
    file.Reset();
    if (outcome == WriteOutcome::Cancelled) {
      SetLastError(ERROR_CANCELLED);
      return Fail(run, FailureCause::Cancelled, path);
    }
    if (outcome == WriteOutcome::WriteFailed) return Fail(run, FailureCause::FileWriteFailed, path);
    if (outcome == WriteOutcome::SourceFailed) {
      SetLastError(ERROR_INVALID_DATA);
      return Fail(run, FailureCause::FrameDamaged, path);
    }

    run.Progress().FilesDone(progressBase + static_cast<int>(i) + 1);
    PaceExtractedFile();
  }
  return true;
}
