#include "shared/system_libraries.h"

#include <commctrl.h>

#include "shared/command_text.h"
#include "shared/path_buffer.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {

// A function found with GetProcAddress, as the type it has. The cast goes through
// the generic function pointer type, which is what GetProcAddress really returns.
template <typename Function>
Function FindFunction(HMODULE module, const char* name) {
  const FARPROC found = module ? GetProcAddress(module, name) : nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

}  // namespace

bool RestrictDllSearchToSystemFolder() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  // kernel32 is in every process already; asking for it loads nothing.
  const auto setDefault =
      FindFunction<SetDefaultDllDirectoriesFunction>(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
  SetDllDirectoryA("");
  return false;
}

bool SystemLibraryPath(const char* name, char* path, std::size_t capacity) {
  char folder[MAX_PATH];
  const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  return JoinPathWhole(path, capacity, folder, "\\") && AppendText(path, capacity, name) == PathResult::Ok;
}

bool InitProgressBarControls() {
  char path[MAX_PATH];
  if (!SystemLibraryPath("comctl32.dll", path, sizeof(path))) return false;
  // Kept loaded for the life of the process: the progress bar class it registers is
  // used until the installer ends, and the system unloads it then.
  const HMODULE comctl32 = LoadLibraryExA(path, nullptr, 0);
  using InitCommonControlsExFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  const auto init = FindFunction<InitCommonControlsExFunction>(comctl32, "InitCommonControlsEx");
  if (init == nullptr) return false;
  const INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS};
  return init(&controls) != FALSE;
}
