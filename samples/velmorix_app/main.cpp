// Sample Velmorix.exe carried in the program archive until the real program takes
// its place: a window that shows the folder it runs from and the work folder that
// the installer recorded in the workpath file beside it.
#include <windows.h>

#include "common/sample_window.h"
#include "shared/raii.h"

namespace {

char g_text[1024];

// The workpath file holds the work folder's path alone, without a line end.
bool ReadWorkPath(const char* folder, char (&workPath)[MAX_PATH]) {
  char file[MAX_PATH + 16];
  wsprintfA(file, "%s\\workpath", folder);
  const UniqueHandle handle(CreateFileA(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) return false;
  DWORD read = 0;
  const BOOL ok = ReadFile(handle.Get(), workPath, MAX_PATH - 1, &read, nullptr);
  workPath[ok ? read : 0] = '\0';
  return ok != FALSE;
}

void ComposeText() {
  char folder[MAX_PATH];
  char workPath[MAX_PATH];
  ModuleFolder(folder);
  if (ReadWorkPath(folder, workPath))
    wsprintfA(g_text, "Папка программы:\r\n%s\r\n\r\nРабочая папка:\r\n%s", folder, workPath);
  else
    wsprintfA(g_text, "Папка программы:\r\n%s\r\n\r\nФайл workpath рядом с программой не найден.", folder);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  ComposeText();
  return RunTextWindow(instance, show, "VelmorixSampleApp", "Тривеллон", g_text);
}
