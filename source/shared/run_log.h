// The installation log asked for with /LOG=<file>: UTF-8 text, appended to, one line
// per step, each line beginning with the local time. As a ProgressReport it turns a
// run's steps into lines; the entry point and the unattended run add their own.
#pragma once
#include <windows.h>

#include <cstddef>

#include "shared/progress_report.h"
#include "shared/run_request.h"
#include "shared/raii.h"

// One line being composed, in UTF-8. Every piece says where its text comes from, so
// that it is converted from the right code page. A line longer than the buffer ends
// in "..." rather than overrunning it.
class LogLine {
 public:
  static constexpr std::size_t kCapacity = 8192;

  // A fixed text of the installer (code page 1251, as the build stores them; plain
  // ASCII is the same in it).
  LogLine& Text(const char* text);
  // A path or another text that came from the system or the user (the ANSI code page).
  LogLine& Path(const char* path);
  LogLine& Wide(const wchar_t* text);
  LogLine& Number(unsigned long long value);
  // A system error code: decimal for Win32 and registry codes, hexadecimal for HRESULTs.
  LogLine& ErrorCode(unsigned long code);

  const char* Data() const { return bytes_; }
  std::size_t Length() const { return length_; }

 private:
  // Room kept for the "..." of a cut line and its line end.
  static constexpr std::size_t kReserve = 8;
  void AppendConverted(const char* text, UINT codePage);
  void AppendWide(const wchar_t* text, std::size_t count);
  void AppendBytes(const char* bytes, std::size_t count);
  void MarkCut();

  char bytes_[kCapacity] = {};
  std::size_t length_ = 0;
  bool cut_ = false;
};

class RunLog : public ProgressReport {
 public:
  enum class OpenResult { Opened, Refused, Failed };

  // Opens the file at `path` (a full ANSI path) for appending, creating it when it is
  // missing. The installer runs with administrator rights: a link planted at the log's
  // path would make it write into whatever file the link names. So the folder is
  // reached from its root folder by folder, each opened inside the one before it and
  // held, and checked to be that folder's entry and no link; the file is opened inside
  // the last one without following a link. A link on the way (even one swapped in
  // while the log is opened), a file with a second name (a hard link) and anything but
  // a file on a disk are refused. *error receives the system's code.
  OpenResult Open(const char* path, unsigned long* error);
  bool IsOpen() const { return file_.Valid(); }

  // Appends the local time, two spaces, the line and a line end, in one write (other
  // writers of the same file cannot split it). Does nothing while no file is open.
  void Write(const LogLine& line);

  // The line that opens a run: its mode, both folders and the shortcuts asked for.
  void RunStarted(const RunRequest& request);

  void Begin(int totalFiles) override;
  void Finished(bool succeeded) override;
  void FolderCreated(const char* path) override;
  void ArchiveUnpacked(const char* folder, int files, unsigned long long bytes,
                       unsigned long milliseconds) override;
  void WorkpathWritten(const char* path) override;
  void ShortcutCreated(const char* path) override;
  void UninstallEntryWritten(const char* key) override;
  void FileTypeAssociated(const char* extension) override;
  // "failed: " the sentence the user is shown for the cause, the cause's name, the path
  // (when there is one) and the system's code.
  void StepFailed(FailureCause cause, const char* path, unsigned long systemError) override;
  void DeletedAtRestart(const char* path) override;
  void TakenBack(const char* step, const char* path) override;

 private:
  void WriteStep(const char* step, const char* path);
  UniqueHandle file_;
};

// The installer's version: the file version of the module's version resource, or the
// version the uninstall entry carries when the module has none. Always terminated.
void InstallerVersion(char* out, std::size_t capacity);
