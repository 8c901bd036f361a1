// The installation worker: unpacks both payload archives and, when installing,
// ties the program into Windows; reports through the request's ProgressReport and
// ends with its Finished.
#pragma once
#include <windows.h>

#include <atomic>

#include "engine/install_run.h"

// What the worker thread is given: the run to make and the two flags it shares with
// the thread that started it (either may be null).
struct WorkerJob {
  const RunRequest* request;
  RunRecord* record;
  std::atomic<bool>* workerRunning;     // set while the worker works
  std::atomic<bool>* installSucceeded;  // the run's result, stored before the end report
};

// Thread procedure. `parameter` is the WorkerJob* to do. Sets workerRunning, runs the
// installation, stores its result in installSucceeded, clears workerRunning and, last,
// reports Finished. Returns 1.
DWORD WINAPI InstallWorker(LPVOID parameter);

// The installation's steps without the flags and the end report: the files, and as
// the request asks, the ties into Windows, the installation's record and the mark of
// success. True when every step succeeded.
bool RunInstallation(const InstallRun& run);

// The module whose "Binary" resources 109 and 110 the worker unpacks: nullptr (the
// default) is the running executable. Tests point it at a copy loaded as a data file.
void SetPayloadModule(HMODULE module);

// Starts decoding a compressed payload's first frames on a thread of its own, while
// the wizard shows its pages: the pools' bounded slots fill, and the run that follows
// (on any thread) takes them over. Nothing is written; a payload that is not sound is
// left for the run to report. Called once, on the thread that later starts the worker.
void StartPayloadDecoding();

// Whether both payload archives are there and sound, checked as the worker checks them
// before it writes anything. A failure is recorded as the worker records it.
bool CheckPayload(const InstallRun& run);
