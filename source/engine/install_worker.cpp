#include "engine/install_worker.h"

#include <atomic>
#include <cstring>

#include "engine/archive_extraction.h"
#include "engine/archive_reader.h"
#include "engine/entry_data.h"
#include "engine/payload_check.h"
#include "engine/folder_chain.h"
#include "engine/installation_record.h"
#include "engine/run_files.h"
#include "engine/run_integration.h"
#include "engine/run_outcome.h"
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

enum class PayloadOutcome { Loaded, Missing, Unloadable };

struct Payload {
  ArchiveView program;
  ArchiveView work;
};

// Finds, loads and validates both archives. Nothing is written before the whole
// pair is known to be sound and to fit createdFiles. *error receives the system's
// code for a failure (ERROR_INVALID_DATA for an archive that is not sound).
PayloadOutcome LoadPayload(const InstallerState& state, Payload* payload, DWORD* error) {
  const HMODULE module = g_payloadModule.load();
  const HRSRC programResource = FindResourceA(module, MAKEINTRESOURCEA(IDR_PROGRAM_ARCHIVE), "Binary");
  const HRSRC workResource = programResource ? FindResourceA(module, MAKEINTRESOURCEA(IDR_WORK_ARCHIVE), "Binary")
                                             : nullptr;
  *error = GetLastError();
  if (programResource == nullptr || workResource == nullptr) return PayloadOutcome::Missing;

  const HGLOBAL programData = LoadResource(module, programResource);
  const HGLOBAL workData = programData ? LoadResource(module, workResource) : nullptr;
  *error = GetLastError();
  if (programData == nullptr || workData == nullptr) return PayloadOutcome::Unloadable;

  const void* programBytes = LockResource(programData);
  const void* workBytes = LockResource(workData);
  *error = ERROR_INVALID_DATA;
  if (programBytes == nullptr || workBytes == nullptr) return PayloadOutcome::Unloadable;
  if (ValidateArchive(programBytes, SizeofResource(module, programResource), &payload->program) != ArchiveError::None ||
      ValidateArchive(workBytes, SizeofResource(module, workResource), &payload->work) != ArchiveError::None)
    return PayloadOutcome::Unloadable;
  if (!PayloadChecksumsHold(module, programBytes, payload->program.size, workBytes, payload->work.size))
    return PayloadOutcome::Unloadable;

  // createdFiles has room for every entry and the workpath file that may replace one.
  const long long total = static_cast<long long>(payload->program.count) + payload->work.count + 1;
  if (total > kMaxCreatedFiles - state.createdFileCount) return PayloadOutcome::Unloadable;
  return PayloadOutcome::Loaded;
}

// LoadPayload, and a failure recorded with its message, the module's path and the code.
bool LoadPayloadOrReport(InstallerState& state, Payload* payload) {
  DWORD error = 0;
  const PayloadOutcome outcome = LoadPayload(state, payload, &error);
  if (outcome == PayloadOutcome::Loaded) return true;
  char module[kPathCapacity] = {};
  const DWORD length = GetModuleFileNameA(g_payloadModule.load(), module, sizeof(module));
  if (length == 0 || length >= sizeof(module)) module[0] = '\0';
  ReportFailure(state, outcome == PayloadOutcome::Missing ? texts::kResourceMissing : texts::kResourceLoadFailed,
                module[0] ? module : nullptr, error);
  return false;
}

// Extracts one archive and reports its size and the time it took.
bool ExtractAndReport(InstallerState& state, const ArchiveView& archive, EntryData& source, const char* folder,
                      int progressBase, bool grantAccess) {
  const ULONGLONG start = GetTickCount64();
  if (!ExtractArchive(state, archive, source, folder, progressBase, grantAccess)) return false;
  const auto milliseconds = static_cast<unsigned long>(GetTickCount64() - start);
  ProgressOf(state).ArchiveUnpacked(folder, archive.count, archive.dataBytes, milliseconds);
  return true;
}

// installDir\workpath holds exactly the text of workDir, without a line end. It is a
// file of the run like any other: an earlier workpath file is kept aside, and an undone
// run deletes the new one (and puts the earlier one back).
bool WriteWorkpathFile(InstallerState& state, const RunDestinations& destinations) {
  char root[kPathCapacity];
  FolderChain chain;
  if (!NormaliseFolder(root, state.installDir) || chain.Reach(root, true, 0) != WayResult::Held) return false;
  UniqueHandle file;
  FileIdentity identity;
  const NewFileTarget target{root, &chain, texts::kWorkpathTail + 1, destinations.workpathFile,
                             state.plannedWorkpathKeep - 1};
  const NewFile placed = CreateRunFile(state, target, &file, &identity);
  if (placed == NewFile::Refused) return false;
  if (placed != NewFile::Reused && !RecordCreatedFile(state, destinations.workpathFile, identity)) return false;
  const auto length = static_cast<DWORD>(BoundedLength(state.workDir, kPathCapacity - 1));
  DWORD written = 0;
  return WriteFile(file.Get(), state.workDir, length, &written, nullptr) && written == length;
}

bool Unpack(InstallerState& state) {
  Payload payload;
  if (!LoadPayloadOrReport(state, &payload)) return false;
  // A compressed payload decodes into the pools' bounded slots, in memory only, while
  // the run is prepared and its folders are made; the first frames of both archives
  // are ready when the files are written. The pools stop with this scope, whatever
  // ends the run.
  EntryData programData(payload.program);
  EntryData workData(payload.work);
  if (!programData.Start() || !workData.Start()) {
    ReportFailure(state, texts::kResourceLoadFailed, state.installDir, GetLastError());
    return false;
  }
  ProgressOf(state).Begin(payload.program.count + payload.work.count);

  char workpathFile[kPathCapacity];
  if (!JoinPathWhole(workpathFile, sizeof(workpathFile), state.installDir, texts::kWorkpathTail)) {
    ReportFailure(state, texts::kInstallFilesFailed, state.installDir, ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  RunDestinations destinations;
  destinations.archives[0] = &payload.program;
  destinations.archives[1] = &payload.work;
  destinations.folders[0] = state.installDir;
  destinations.folders[1] = state.workDir;
  destinations.count = 2;
  destinations.workpathFile = workpathFile;
  // Nothing is written before every destination is known to be sound.
  if (!PrepareRun(state, destinations)) return false;

  if (!ExtractAndReport(state, payload.program, programData, state.installDir, 0, false)) return false;
  // Without the workpath file a reinstallation cannot find the work folder; the
  // run fails here rather than leave an installation that looks whole.
  if (!WriteWorkpathFile(state, destinations)) {
    ReportFailure(state, texts::kInstallFilesFailed, workpathFile, GetLastError());
    return false;
  }
  ProgressOf(state).WorkpathWritten(workpathFile);
  return ExtractAndReport(state, payload.work, workData, state.workDir, payload.program.count, true);
}

// Shortcuts, uninstall entry and file type; each step runs whatever came before, once
// the journal holds what it is about to replace.
bool IntegrateWithWindows(InstallerState& state) {
  const ComApartment com(CoInitialize(nullptr));
  if (FAILED(com.Result())) {
    ReportFailure(state, texts::kComInitFailed, nullptr, static_cast<unsigned long>(com.Result()));
    return false;
  }
  // A program path cut to fit would point the shortcuts at another file: without the
  // whole path, the chosen shortcuts fail with their own messages.
  char programExePath[kPathCapacity];
  const bool pathWhole =
      JoinPathWhole(programExePath, sizeof(programExePath), state.installDir, texts::kProgramExeTail);

  JournalledShortcuts journalled(state);
  bool result = CreateProgramShortcuts(state, pathWhole ? programExePath : nullptr, &journalled);
  result = JournalUninstallEntryStep(state) && RegisterUninstallEntry(state) && result;
  result = JournalAssociationStep(state) && RegisterFileAssociation(state) && result;
  return result;
}

}  // namespace

void SetPayloadModule(HMODULE module) { g_payloadModule.store(module); }

bool CheckPayload(InstallerState& state) {
  Payload payload;
  return LoadPayloadOrReport(state, &payload);
}

DWORD WINAPI InstallWorker(LPVOID parameter) {
  InstallerState& state = *static_cast<InstallerState*>(parameter);
  state.workerRunning.store(true);

  bool result = Unpack(state);
  if (state.modeInstall) {
    NoteRegistryBeforeIntegration(state);
    result = IntegrateWithWindows(state) && result;
  }
  // What the uninstaller will remove; an installation it could not remove fails.
  if (result && !state.modeRun) {
    if (!JournalInstallationRecordStep(state)) {
      result = false;
    } else if (!SaveInstallationRecord(state)) {
      ReportFailure(state, texts::kInstallFilesFailed, "HKLM\\Software\\VelmorixInstallation", GetLastError());
      result = false;
    }
  }

  // Durable before anyone hears of it: a killed installer's next start keeps this run.
  // Without the mark a killed run would be undone after its success was reported, so
  // a mark that cannot be written fails the run.
  if (result && !MarkRunSucceeded(state)) {
    ReportFailure(state, texts::kInstallFilesFailed, "HKLM\\Software\\VelmorixSetup\\Run", GetLastError());
    result = false;
  }
  // The receiver of the end report relies on this order.
  state.installSucceeded.store(result);
  state.workerRunning.store(false);
  ProgressOf(state).Finished(result);
  return 1;
}
