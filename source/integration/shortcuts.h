// Shortcuts to the installed program on the all-users desktop and in the all-users
// Start-menu programs folder.
#pragma once
#include <windows.h>

#include "integration/removal.h"
#include "shared/path_buffer.h"
#include "shared/progress_report.h"

constexpr std::size_t kLinkPathCapacity = MAX_PATH;  // wide characters

// Saves a shortcut file at linkPath through the ANSI shell-link object.
HRESULT CreateShellShortcut(const wchar_t* linkPath, const char* target, const char* workingFolder,
                            const char* iconFile);

// A new ANSI (CP_ACP) copy of a wide string, owned by the caller (delete[]);
// *byteCount receives its size including the terminator. Null (and 0) when the
// text cannot be converted or the memory is not there.
char* WideToAnsi(const wchar_t* text, int* byteCount);

// Bounded append to a link path buffer of kLinkPathCapacity characters (the whole
// buffer: at most 259 characters and the terminator). S_OK; or
// STRSAFE_E_INSUFFICIENT_BUFFER when the result did not fit whole (the characters
// that fit are kept, terminated); or STRSAFE_E_INVALID_PARAMETER when the
// destination holds no terminator (left unchanged). Callers treat a cut path as a
// failure: a shortcut is never saved under a cut name.
HRESULT AppendWidePath(wchar_t* destination, const wchar_t* source);

// Told of each shortcut before anything of it is made: its whole path (ANSI) and
// whether the maker's folder that is to hold it is missing and made with it. False
// leaves the shortcut unmade (a failure; the watch has recorded its message).
class ShortcutWatch {
 public:
  virtual ~ShortcutWatch() = default;
  virtual bool WillMake(int index, const char* linkPath, bool makesFolder) = 0;
};

// Which shortcuts to make, and for what: the program at programExePath (null when its
// path did not fit whole: every chosen shortcut then fails), started in installDir.
struct ShortcutChoice {
  bool desktop;
  bool startMenu;
  const char* installDir;
  const char* programExePath;
};
// Where the paths of the shortcuts made go (kPathCapacity bytes each; left alone for a
// shortcut not made).
struct ShortcutPaths {
  char* desktop;
  char* startMenu;
};

// The shortcut step of the worker (COM already initialised on this thread): the
// shortcuts `choice` asks for (index 0 and 1 for the watch). Records their paths in
// `made`; false after any failure, each reported to `progress` with its cause.
bool CreateProgramShortcuts(const ShortcutChoice& choice, const ShortcutPaths& made, ProgressReport& progress,
                            ShortcutWatch* watch = nullptr);

// Deletes the shortcut file at linkPath (ANSI) only while it still points at
// programExePath (compared as Windows compares file names); a shortcut the user
// re-pointed, or any other file standing there, is NotOurs. COM must be initialised
// on this thread.
RemovalResult RemoveProgramShortcut(const char* linkPath, const char* programExePath);

// The same check without the delete: Removed means the shortcut is still ours and may
// go (for a removal that moves it aside first). COM must be initialised on this thread.
RemovalResult CheckProgramShortcut(const char* linkPath, const char* programExePath);
