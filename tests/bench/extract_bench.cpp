// Extraction benchmark: an archive pair shaped like the shipped payload (84 files,
// 101,777,317 data bytes) is generated in memory and extracted the way the worker
// does it (destinations checked and journalled first, the run committed at the end),
// on a second thread, into a scratch folder, with a progress page on this thread
// (visible once, hidden once). The yardstick is the same bytes written with one
// WriteFile per file. A last pair of runs compares a fresh installation with a
// reinstallation over it, where every earlier file is moved aside while the run
// writes; the times run to the end notice (the page shows "Готово" then), and the
// deletion of the files moved aside, done when the page closes, is shown apart.
// Given a build's payload folder (program.bin, work.bin and their compressed forms
// program.vxz, work.vxz), it also extracts that payload both ways, and times the
// decoding of the compressed pair alone on the decoding pool.
//
//   velmorix_extract_bench.exe [rounds [payload folder]]
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/archive_extraction.h"
#include "engine/archive_reader.h"
#include "engine/payload_archive.h"
#include "engine/entry_data.h"
#include "engine/payload_checksum.h"
#include "engine/run_outcome.h"
#include "engine/run_plan.h"
#include "resource_ids.h"
#include "engine/install_run.h"
#include "shared/system_libraries.h"
#include "support/payload_archive.h"
#include "support/test_files.h"
#include "wizard/progress_board.h"

namespace {

using testsupport::DeleteTree;

struct BenchEntry {
  std::string relativeFolder;
  std::string name;
  std::size_t size;
};

// Sizes that add up to `total`, with the given largest and smallest entries and the
// rest spread between them.
std::vector<std::size_t> SpreadSizes(std::size_t count, std::size_t total, std::size_t largest, std::size_t smallest) {
  std::vector<std::size_t> sizes{largest, smallest};
  const std::size_t rest = total - largest - smallest;
  const std::size_t others = count - 2;
  const std::size_t weightSum = others * (others + 1) / 2;
  std::size_t given = 0;
  for (std::size_t k = 0; k < others; ++k) {
    const std::size_t size = k + 1 == others ? rest - given
                                             : static_cast<std::size_t>(static_cast<std::uint64_t>(rest) * (k + 1) /
                                                                        weightSum);
    sizes.push_back(size);
    given += size;
  }
  return sizes;
}

std::vector<BenchEntry> ProgramLayout() {
  const std::vector<std::size_t> sizes = SpreadSizes(16, 27184765, 6550603, 30208);
  std::vector<BenchEntry> entries;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    // 11 files at the root, 5 in two sub-folders.
    const char* folder = i < 11 ? "\\" : (i < 14 ? "\\platforms\\" : "\\imageformats\\");
    entries.push_back({folder, "program_file_" + std::to_string(i) + ".dll", sizes[i]});
  }
  return entries;
}

std::vector<BenchEntry> WorkLayout() {
  const std::vector<std::size_t> sizes = SpreadSizes(68, 74548192, 21304146, 35);
  std::vector<BenchEntry> entries;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    // One file in \workdir\, the rest 3 to 5 levels down.
    std::string folder = "\\workdir\\";
    if (i == 0) {
    } else if (i % 3 == 0) {
      folder += "packages\\package_" + std::to_string(i % 7) + "\\";
    } else if (i % 3 == 1) {
      folder += "libs\\windows\\x86\\";
    } else {
      folder += "libs\\linux\\x86_64\\release\\";
    }
    entries.push_back({folder, "work_file_" + std::to_string(i) + ".dat", sizes[i]});
  }
  return entries;
}

std::vector<unsigned char> BuildArchive(const std::vector<BenchEntry>& entries) {
  std::size_t dataSize = 0;
  for (const BenchEntry& e : entries) dataSize += e.size;
  std::vector<testsupport::ArchiveEntry> table;
  for (const BenchEntry& e : entries)
    table.push_back({"D:\\Work\\Tarkweller\\Velmorix\\pack" + e.relativeFolder + e.name, e.relativeFolder, e.size});
  std::vector<unsigned char> bytes = testsupport::PayloadTable(table);
  std::size_t data = bytes.size();
  bytes.resize(bytes.size() + dataSize);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    for (std::size_t b = 0; b < entries[i].size; ++b) bytes[data + b] = static_cast<unsigned char>((b * 131 + i) >> 3);
    data += entries[i].size;
  }
  return bytes;
}

double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Writes every file below `folder` through to the disk, as an installation made some
// time ago would be: a reinstallation then replaces files that are no longer waiting
// in the cache to be written.
void FlushToDisk(const std::string& folder) {
  for (const std::string& name : testsupport::ListFiles(folder)) {
    const UniqueHandle file(CreateFileA((folder + "\\" + name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    if (file) FlushFileBuffers(file.Get());
  }
}

std::string ScratchFolder(const char* tag) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string path = std::string(temp) + "velmorix_bench_" + tag + "_" + std::to_string(GetCurrentProcessId());
  DeleteTree(path);
  return path;
}

// The limit: one CreateFile/WriteFile/CloseHandle per file, folders made directly.
double WriteDirectly(const std::vector<unsigned char>& archive, const std::string& destination) {
  ArchiveView view;
  ValidateArchive(archive.data(), archive.size(), &view);
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  CreateDirectoryA(destination.c_str(), nullptr);
  const unsigned char* data = archive.data() + view.dataOffset;
  for (std::int32_t i = 0; i < view.count; ++i) {
    const PayloadEntry entry = ReadPayloadEntry(view, i);
    std::string folder = destination;
    for (const char* c = entry.relativeFolder + 1; *c; ++c) {
      if (*c == '\\') CreateDirectoryA(folder.c_str(), nullptr);
      folder += *c;
    }
    const std::string path = folder + PayloadFileName(entry);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (file == INVALID_HANDLE_VALUE || !WriteFile(file, data, static_cast<DWORD>(entry.size), &written, nullptr)) {
      std::fprintf(stderr, "direct write failed: %s\n", path.c_str());
      std::exit(1);
    }
    CloseHandle(file);
    data += entry.size;
  }
  QueryPerformanceCounter(&end);
  return Seconds(start, end);
}

// Counts the messages the progress controls receive, then lets them do their work.
long g_progressMessages = 0;
WNDPROC g_controlProcs[3] = {};
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const int id = GetDlgCtrlID(window);
  const int slot = id == IDC_PROGRESS_OVERALL ? 0 : (id == IDC_PROGRESS_CURRENT_FILE ? 1 : 2);
  if (message == WM_SETTEXT || message == PBM_SETPOS || message == PBM_SETRANGE || message == PBM_SETSTEP)
    ++g_progressMessages;
  return CallWindowProcA(g_controlProcs[slot], window, message, wParam, lParam);
}

// A stand-in for the progress page: the two bars and the label at the page's ids.
HWND CreateProgressPage(bool visible) {
  HWND page = CreateWindowExA(0, "STATIC", "progress", WS_OVERLAPPED | WS_CAPTION, 100, 100, 420, 160, nullptr,
                              nullptr, GetModuleHandleA(nullptr), nullptr);
  HWND overall = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 10, 10, 380, 20, page,
                                 reinterpret_cast<HMENU>(IDC_PROGRESS_OVERALL), nullptr, nullptr);
  HWND label = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 10, 40, 380, 20, page,
                               reinterpret_cast<HMENU>(IDC_PROGRESS_CURRENT_FILE), nullptr, nullptr);
  HWND file = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 10, 70, 380, 20, page,
                              reinterpret_cast<HMENU>(IDC_PROGRESS_FILE), nullptr, nullptr);
  HWND controls[3] = {overall, label, file};
  for (int i = 0; i < 3; ++i)
    g_controlProcs[i] = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(controls[i], GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingProc)));
  if (visible) {
    ShowWindow(page, SW_SHOW);
    UpdateWindow(page);
  }
  return page;
}

struct ExtractionRun {
  const InstallRun* state;
  ArchiveView program;
  ArchiveView work;
  std::string installDir;
  bool result;
};

// What the worker does between loading the resources and the system integration.
DWORD WINAPI ExtractBoth(LPVOID parameter) {
  auto* run = static_cast<ExtractionRun*>(parameter);
  run->state->Progress().Begin(run->program.count + run->work.count);
  const std::string workDir = run->installDir + "\\work";
  RunDestinations destinations;
  destinations.archives[0] = &run->program;
  destinations.archives[1] = &run->work;
  destinations.folders[0] = run->installDir.c_str();
  destinations.folders[1] = workDir.c_str();
  destinations.count = 2;
  run->result = PrepareRun(*run->state, destinations) &&
                ExtractArchive(*run->state, run->program, run->installDir.c_str(), 0, false) &&
                ExtractArchive(*run->state, run->work, workDir.c_str(), run->program.count, true);
  if (run->result) MarkRunSucceeded(*run->state);
  return 0;
}

enum class Page { None, Hidden, Visible };

// The page's board timer, as the progress page runs it.
ProgressBoard* g_board = nullptr;
void CALLBACK ShowBoard(HWND, UINT, UINT_PTR, DWORD) {
  if (g_board) g_board->Show();
}

double ExtractWithPage(const std::vector<unsigned char>& program, const std::vector<unsigned char>& work,
                       const std::string& destination, Page page, long* messages, double* commitSeconds = nullptr) {
  static RunRequest request;
  static RunRecord record;  // 500 KB of created files: not on the stack
  record.createdFileCount = 0;
  const HWND pageWindow = page == Page::None ? nullptr : CreateProgressPage(page == Page::Visible);
  ProgressBoard board;
  request.progress = nullptr;
  if (pageWindow) {
    board.Reset(pageWindow);
    request.progress = &board;
    g_board = &board;
    SetTimer(pageWindow, 1, ProgressBoard::kRefreshInterval, &ShowBoard);
  }
  const InstallRun state(request, record);
  g_progressMessages = 0;
  ExtractionRun run{&state, {}, {}, destination, false};
  ValidateArchive(program.data(), program.size(), &run.program);
  ValidateArchive(work.data(), work.size(), &run.work);

  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  CreateDirectoryA(destination.c_str(), nullptr);
  HANDLE thread = CreateThread(nullptr, 0, ExtractBoth, &run, 0, nullptr);
  for (;;) {
    if (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0) break;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  // The page's last look at the board, as on the end notice.
  if (pageWindow) board.Show();
  QueryPerformanceCounter(&end);
  CloseHandle(thread);
  g_board = nullptr;
  if (pageWindow) DestroyWindow(pageWindow);
  if (!run.result) {
    std::fprintf(stderr, "extraction failed: %s\n", FailureCauseName(record.failure.cause));
    std::exit(1);
  }
  LARGE_INTEGER committed;
  CommitRun(state);
  QueryPerformanceCounter(&committed);
  if (commitSeconds) *commitSeconds = Seconds(end, committed);
  *messages = g_progressMessages;
  return Seconds(start, end);
}

std::vector<unsigned char> ReadPayloadFile(const std::string& folder, const char* name) {
  const std::string bytes = testsupport::ReadWholeFile(folder + "\\" + name);
  if (bytes.empty()) {
    std::fprintf(stderr, "cannot read %s\\%s\n", folder.c_str(), name);
    std::exit(1);
  }
  return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

// The processor time this process has used, in seconds: what decoding costs whatever
// else the machine runs.
double ProcessorSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto ticks = [](const FILETIME& t) {
    return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  };
  return (ticks(kernel) + ticks(user)) / 1e7;
}

// Every byte of a compressed archive decoded in order by the pool, nothing written;
// *processor receives the processor time it took.
double DecodeOnly(const std::vector<unsigned char>& archive, double* processor) {
  ArchiveView view;
  ValidateArchive(archive.data(), archive.size(), &view);
  const double processorBefore = ProcessorSeconds();
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  EntryData source(view);
  std::uint64_t left = view.dataBytes;
  const unsigned char* data = nullptr;
  std::size_t length = 0;
  if (!source.Start()) std::exit(1);
  while (left > 0 && source.Next(&data, &length)) {
    source.Consume(length);
    left -= length;
  }
  QueryPerformanceCounter(&end);
  if (left != 0) {
    std::fprintf(stderr, "a frame did not decode\n");
    std::exit(1);
  }
  *processor += ProcessorSeconds() - processorBefore;
  return Seconds(start, end);
}

// The build's payload stored and compressed, each into a fresh folder with the page
// visible (and without a page), and the decoding alone.
void ComparePayloadForms(const std::string& payload) {
  const std::vector<unsigned char> forms[2][2] = {
      {ReadPayloadFile(payload, "program.bin"), ReadPayloadFile(payload, "work.bin")},
      {ReadPayloadFile(payload, "program.vxz"), ReadPayloadFile(payload, "work.vxz")}};
  const double megabytes = static_cast<double>(forms[0][0].size() + forms[0][1].size()) / 1e6;
  double times[2][2] = {};
  for (int form = 0; form < 2; ++form) {
    for (Page page : {Page::None, Page::Visible}) {
      const std::string folder = ScratchFolder(form == 0 ? "stored" : "compressed");
      long messages = 0;
      times[form][page == Page::Visible] = ExtractWithPage(forms[form][0], forms[form][1], folder, page, &messages);
      DeleteTree(folder);
    }
  }
  double processor = 0;
  const double decode = DecodeOnly(forms[1][0], &processor) + DecodeOnly(forms[1][1], &processor);
  std::printf("payload %s: %.1f MB, compressed %zu + %zu bytes\n", payload.c_str(), megabytes, forms[1][0].size(),
              forms[1][1].size());
  std::printf("  stored:     no window %7.3f s, visible %7.3f s\n", times[0][0], times[0][1]);
  std::printf("  compressed: no window %7.3f s, visible %7.3f s  (%.2fx the stored, visible)\n", times[1][0],
              times[1][1], times[1][1] / times[0][1]);
  std::printf("  decoding alone on %u threads: %7.3f s  %7.1f MB/s; processor time %.3f s, %.1f MB/s a core\n",
              DecodePool::DefaultThreads(), decode, megabytes / decode, processor, megabytes / processor);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 1;
  InitProgressBarControls();

  const std::vector<unsigned char> program = BuildArchive(ProgramLayout());
  const std::vector<unsigned char> work = BuildArchive(WorkLayout());
  const double megabytes = static_cast<double>(program.size() + work.size()) / 1e6;
  std::printf("archives: %zu + %zu bytes (84 files)\n", program.size(), work.size());

  for (int round = 0; round < rounds; ++round) {
    const std::string limitFolder = ScratchFolder("limit");
    double limit = WriteDirectly(program, limitFolder);
    limit += WriteDirectly(work, limitFolder + "\\work");
    DeleteTree(limitFolder);
    std::printf("limit  (one WriteFile per file): %7.3f s  %7.1f MB/s\n", limit, megabytes / limit);

    // "none" sends to no window at all: the cost of the writing alone.
    double visible = 0;
    for (Page page : {Page::None, Page::Hidden, Page::Visible}) {
      const char* name = page == Page::None ? "none" : (page == Page::Hidden ? "hidden" : "visible");
      const std::string folder = ScratchFolder(name);
      long messages = 0;
      const double seconds = ExtractWithPage(program, work, folder, page, &messages);
      DeleteTree(folder);
      std::printf("window %-7s: %7.3f s  %7.1f MB/s  %6ld progress messages  %.2fx the limit\n", name, seconds,
                  megabytes / seconds, messages, seconds / limit);
      visible = seconds;
    }
    // The worker's check of both archives against resource 111, before it writes.
    unsigned char sums[kPayloadChecksumSize];
    EncodePayloadChecksums(Crc32(program.data(), program.size()), Crc32(work.data(), work.size()), sums);
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    const bool match = PayloadChecksumsMatch(sums, sizeof(sums), program.data(), program.size(), work.data(),
                                             work.size());
    QueryPerformanceCounter(&end);
    const double check = Seconds(start, end);
    std::printf("checksums (CRC-32 of both): %7.3f s  %s  %.1f%% of the visible run\n", check,
                match ? "match" : "MISMATCH", 100.0 * check / visible);

    // The same payload twice into one folder, hidden page: the second run keeps all 84
    // earlier files aside while it writes and deletes them when the page closes. The
    // first run's files are on disk before the second begins.
    const std::string folder = ScratchFolder("reinstall");
    long messages = 0;
    double freshCommit = 0;
    double againCommit = 0;
    const double fresh = ExtractWithPage(program, work, folder, Page::Hidden, &messages, &freshCommit);
    FlushToDisk(folder);
    const double again = ExtractWithPage(program, work, folder, Page::Hidden, &messages, &againCommit);
    DeleteTree(folder);
    std::printf("fresh installation: %7.3f s, reinstallation over it: %7.3f s  (%.2fx); then deleting the "
                "replaced files: %.3f s\n",
                fresh, again, again / fresh, againCommit);
    if (argc > 2) ComparePayloadForms(argv[2]);
  }
  return 0;
}
