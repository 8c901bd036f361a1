#include "engine/install_worker.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <new>

#include "engine/archive_extraction.h"
#include "engine/archive_reader.h"
#include "engine/payload_archive.h"
#include "engine/entry_data.h"
#include "engine/payload_check.h"
#include "engine/folder_chain.h"
#include "engine/installation_record.h"
#include "engine/run_files.h"
#include "engine/run_integration.h"
#include "engine/run_outcome.h"
#include "engine/run_journal.h"
#include "engine/run_plan.h"
#include "integration/file_association.h"
#include "integration/shortcuts.h"
#include "integration/uninstall_registration.h"
#include "resource_ids.h"
#include "shared/command_text.h"
#include "shared/path_buffer.h"
#include "shared/raii.h"
#include "shared/texts.h"

namespace {

std::atomic<HMODULE> g_payloadModule{nullptr};

struct Payload {
  ArchiveView program;
  ArchiveView work;
};

// Finds, loads and validates both archives. Nothing is written before the whole
// pair is known to be sound and to fit createdFiles. None when it is; else the cause,
// with *error the system's code (ERROR_INVALID_DATA for an archive that is not sound).
FailureCause LoadPayload(std::int32_t createdBefore, Payload* payload, DWORD* error) {
  const HMODULE module = g_payloadModule.load();
  const HRSRC programResource = FindResourceA(module, MAKEINTRESOURCEA(IDR_PROGRAM_ARCHIVE), "Binary");
  const HRSRC workResource = programResource ? FindResourceA(module, MAKEINTRESOURCEA(IDR_WORK_ARCHIVE), "Binary")
                                             : nullptr;
  *error = GetLastError();
  if (programResource == nullptr || workResource == nullptr) return FailureCause::PayloadMissing;

  const HGLOBAL programData = LoadResource(module, programResource);
  const HGLOBAL workData = programData ? LoadResource(module, workResource) : nullptr;
  *error = GetLastError();
  if (programData == nullptr || workData == nullptr) return FailureCause::PayloadUnreadable;

  const void* programBytes = LockResource(programData);
  const void* workBytes = LockResource(workData);
  *error = ERROR_INVALID_DATA;
  if (programBytes == nullptr || workBytes == nullptr) return FailureCause::PayloadUnreadable;
  if (ValidateArchive(programBytes, SizeofResource(module, programResource), &payload->program) != ArchiveError::None ||
      ValidateArchive(workBytes, SizeofResource(module, workResource), &payload->work) != ArchiveError::None)
    return FailureCause::PayloadDamaged;
  if (!PayloadChecksumsHold(module, programBytes, payload->program.size, workBytes, payload->work.size))
    return FailureCause::PayloadDamaged;

  // createdFiles has room for every entry and the workpath file that may replace one.
  const long long total = static_cast<long long>(payload->program.count) + payload->work.count + 1;
  if (total > kMaxCreatedFiles - createdBefore) return FailureCause::PayloadTooLarge;
  return FailureCause::None;
}

// LoadPayload, and a failure recorded with its cause, the module's path and the code.
bool LoadPayloadOrReport(const InstallRun& run, Payload* payload) {
  DWORD error = 0;
  const FailureCause cause = LoadPayload(run.record.createdFileCount, payload, &error);
  if (cause == FailureCause::None) return true;
  char module[kPathCapacity] = {};
  const DWORD length = GetModuleFileNameA(g_payloadModule.load(), module, sizeof(module));
  if (length == 0 || length >= sizeof(module)) module[0] = '\0';
  return run.Fail(cause, module[0] ? module : nullptr, error);
}

// Both archives' entry data, started: for a compressed payload, its pools decoding.
struct PayloadData {
  explicit PayloadData(const Payload& loaded) : payload(loaded), program(loaded.program), work(loaded.work) {}
  bool Start(bool ahead) { return program.Start(ahead) && work.Start(ahead); }
  bool Widen() { return program.Widen() && work.Widen(); }
  bool Serves(const Payload& loaded) const {
    return payload.program.base == loaded.program.base && payload.program.size == loaded.program.size &&
           payload.work.base == loaded.work.base && payload.work.size == loaded.work.size;
  }
  const Payload payload;
  EntryData program;
  EntryData work;
};

// The decoding started ahead of the run (StartPayloadDecoding): the data is written
// by its thread and taken by the worker once that thread has ended. At the process's
// end the thread is waited for before its data goes (and with it the pools' threads).
struct DecodedAhead {
  ~DecodedAhead() {
    if (thread) WaitForSingleObject(thread.Get(), INFINITE);
  }
  UniqueHandle thread;
  UniqueHandle running;  // set once the thread runs its own code
  std::unique_ptr<PayloadData> data;
};
DecodedAhead g_decodedAhead;

DWORD WINAPI DecodeAhead(LPVOID) {
  SetEvent(g_decodedAhead.running.Get());
  Payload payload;
  DWORD error = 0;
  if (LoadPayload(0, &payload, &error) != FailureCause::None) return 0;
  if (!payload.program.compressed && !payload.work.compressed) return 0;
  std::unique_ptr<PayloadData> data(new (std::nothrow) PayloadData(payload));
  if (data && data->Start(true)) g_decodedAhead.data = std::move(data);
  return 0;
}

// The data started ahead for exactly this payload, or null.
std::unique_ptr<PayloadData> TakeDecodedAhead(const Payload& payload) {
  if (!g_decodedAhead.thread) return nullptr;
  WaitForSingleObject(g_decodedAhead.thread.Get(), INFINITE);
  g_decodedAhead.thread.Reset();
  std::unique_ptr<PayloadData> data = std::move(g_decodedAhead.data);
  return data && data->Serves(payload) ? std::move(data) : nullptr;
}

// What "Programs and Features" shows as the size: every file the run wrote, in KiB
// rounded up.
unsigned long EstimatedSizeKiB(const RunRecord& record) {
  unsigned long long bytes = 0;
  for (int i = 0; i < record.createdFileCount && i < kMaxCreatedFiles; ++i) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExA(record.createdFiles[i], GetFileExInfoStandard, &data))
      bytes += (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  const unsigned long long kib = (bytes + 1023) / 1024;
  return kib > 0xFFFFFFFFull ? 0xFFFFFFFFul : static_cast<unsigned long>(kib);
}

// Extracts one archive and reports its size and the time it took.
bool ExtractAndReport(const InstallRun& run, const ArchiveView& archive, EntryData& source, const char* folder,
                      int progressBase, bool grantAccess) {
  const ULONGLONG start = GetTickCount64();
  if (!ExtractArchive(run, archive, source, folder, progressBase, grantAccess)) return false;
  const auto milliseconds = static_cast<unsigned long>(GetTickCount64() - start);
  run.Progress().ArchiveUnpacked(folder, archive.count, archive.dataBytes, milliseconds);
  return true;
}

// installDir\workpath holds exactly the text of workDir, without a line end. It is a
// file of the run like any other: an earlier workpath file is kept aside, and an undone
// run deletes the new one (and puts the earlier one back).
bool WriteWorkpathFile(const InstallRun& run, const RunDestinations& destinations) {
  char root[kPathCapacity];
  FolderChain chain;
  if (!NormaliseFolder(root, run.request.installDir) || chain.Reach(root, true, 0) != WayResult::Held) return false;
  UniqueHandle file;
  FileIdentity identity;
  const NewFileTarget target{root, &chain, texts::kWorkpathTail + 1, destinations.workpathFile,
                             run.record.plannedWorkpathKeep};
  const NewFile placed = CreateRunFile(run, target, &file, &identity);
  if (placed == NewFile::Refused || placed == NewFile::NotJournalled) return false;
  if (placed != NewFile::Reused && !RecordCreatedFile(run, destinations.workpathFile, identity)) return false;
  const auto length = static_cast<DWORD>(BoundedLength(run.request.workDir, kPathCapacity - 1));
  DWORD written = 0;
  return WriteFile(file.Get(), run.request.workDir, length, &written, nullptr) && written == length;
}

bool Unpack(const InstallRun& run) {
  Payload payload;
  if (!LoadPayloadOrReport(run, &payload)) return false;
  // A compressed payload decodes into the pools' bounded slots, in memory only, while
  // the run is prepared and its folders are made; the first frames of both archives
  // are ready when the files are written. Decoding started ahead has run on one
  // thread while the pages showed; it now takes every core. The pools stop with this
  // scope, whatever ends the run.
  std::unique_ptr<PayloadData> data = TakeDecodedAhead(payload);
  if (data && !data->Widen()) return run.Fail(FailureCause::DecoderNotStarted, run.request.installDir, GetLastError());
  if (!data) {
    data.reset(new (std::nothrow) PayloadData(payload));
    if (!data) return run.Fail(FailureCause::DecoderNotStarted, run.request.installDir, ERROR_NOT_ENOUGH_MEMORY);
    if (!data->Start(false)) return run.Fail(FailureCause::DecoderNotStarted, run.request.installDir, GetLastError());
  }
  EntryData& programData = data->program;
  EntryData& workData = data->work;
  run.Progress().Begin(payload.program.count + payload.work.count);

  char workpathFile[kPathCapacity];
  if (!JoinPathWhole(workpathFile, sizeof(workpathFile), run.request.installDir, texts::kWorkpathTail))
    return run.Fail(FailureCause::FilePathTooLong, run.request.installDir, ERROR_FILENAME_EXCED_RANGE);
  RunDestinations destinations;
  destinations.archives[0] = &payload.program;
  destinations.archives[1] = &payload.work;
  destinations.folders[0] = run.request.installDir;
  destinations.folders[1] = run.request.workDir;
  destinations.count = 2;
  destinations.workpathFile = workpathFile;
  // Nothing is written before every destination is known to be sound.
  if (!PrepareRun(run, destinations)) return false;

  if (!ExtractAndReport(run, payload.program, programData, run.request.installDir, 0, false)) return false;
  // Without the workpath file a reinstallation cannot find the work folder; the
  // run fails here rather than leave an installation that looks whole.
  if (!WriteWorkpathFile(run, destinations))
    return run.Fail(FailureCause::WorkpathNotWritten, workpathFile, GetLastError());
  run.Progress().WorkpathWritten(workpathFile);
  return ExtractAndReport(run, payload.work, workData, run.request.workDir, payload.program.count, true);
}

// Shortcuts, uninstall entry and file type; each step runs whatever came before, once
// the journal holds what it is about to replace.
bool IntegrateWithWindows(const InstallRun& run) {
  const ComApartment com(CoInitialize(nullptr));
  if (FAILED(com.Result()))
    return run.Fail(FailureCause::ComNotInitialised, nullptr, static_cast<unsigned long>(com.Result()));
  // A program path cut to fit would point the shortcuts at another file: without the
  // whole path, the chosen shortcuts fail with their own messages.
  char programExePath[kPathCapacity];
  const bool pathWhole =
      JoinPathWhole(programExePath, sizeof(programExePath), run.request.installDir, texts::kProgramExeTail);

  const RunRequest& request = run.request;
  RunRecord& record = run.record;
  JournalledShortcuts journalled(run);
  const ShortcutChoice choice{request.makeDesktopShortcut, request.makeStartMenuShortcut, request.installDir,
                              pathWhole ? programExePath : nullptr};
  ShortcutPaths made{record.desktopShortcutPath, record.startMenuShortcutPath};
  bool result = CreateProgramShortcuts(choice, made, run.Progress(), &journalled);
  const UninstallEntry entry{request.is64BitWindows, request.installDir,
                             request.makeDesktopShortcut ? record.desktopShortcutPath : nullptr,
                             request.makeStartMenuShortcut ? record.startMenuShortcutPath : nullptr,
                             EstimatedSizeKiB(record)};
  result = JournalUninstallEntryStep(run) && RegisterUninstallEntry(entry, run.Progress()) && result;
  result = JournalAssociationStep(run) &&
           RegisterFileAssociation(request.is64BitWindows, request.installDir, run.Progress()) && result;
  return result;
}

}  // namespace

void SetPayloadModule(HMODULE module) { g_payloadModule.store(module); }

void StartPayloadDecoding() {
  if (g_decodedAhead.thread) return;
  g_decodedAhead.running.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!g_decodedAhead.running) return;
  g_decodedAhead.thread.Reset(CreateThread(nullptr, 0, DecodeAhead, nullptr, 0, nullptr));
  // A new thread starts under the loader lock, which the caller's next library load
  // would hold for as long as it takes (comctl32: some 20 ms under Wine): it is let
  // start first.
  if (g_decodedAhead.thread) WaitForSingleObject(g_decodedAhead.running.Get(), 1000);
}

bool CheckPayload(const InstallRun& run) {
  Payload payload;
  return LoadPayloadOrReport(run, &payload);
}

bool RunInstallation(const InstallRun& run) {
  bool result = Unpack(run);
  if (run.request.TiesIntoWindows()) {
    NoteRegistryBeforeIntegration(run);
    result = IntegrateWithWindows(run) && result;
  }
  // What the uninstaller will remove; an installation it could not remove fails.
  if (result && run.request.KeepsRecord()) {
    if (!JournalInstallationRecordStep(run)) {
      result = false;
    } else if (!SaveInstallationRecord(run)) {
      result = run.Fail(FailureCause::RecordNotSaved, "HKLM\\Software\\VelmorixInstallation", GetLastError());
    }
  }
  // Durable before anyone hears of it: a killed installer's next start keeps this run.
  // Without the mark a killed run would be undone after its success was reported, so
  // a mark that cannot be written fails the run.
  if (result && !MarkRunSucceeded(run)) result = run.Fail(FailureCause::RunMarkFailed, kRunJournalKey, GetLastError());
  return result;
}

DWORD WINAPI InstallWorker(LPVOID parameter) {
  const WorkerJob& job = *static_cast<const WorkerJob*>(parameter);
  const InstallRun run(*job.request, *job.record);
  if (job.workerRunning) job.workerRunning->store(true);
  const bool result = RunInstallation(run);
  // The receiver of the end report relies on this order.
  if (job.installSucceeded) job.installSucceeded->store(result);
  if (job.workerRunning) job.workerRunning->store(false);
  run.Progress().Finished(result);
  return 1;
}
