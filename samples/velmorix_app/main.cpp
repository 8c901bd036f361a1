// Sample Velmorix.exe carried in the program archive until the real program takes
// its place: a window that shows the folder it runs from and the work folder that
// the installer recorded in the workpath file beside it.
#include <windows.h>

#include <fstream>

#include "common/sample_window.h"

namespace {

char g_text[1024];

// The workpath file holds the work folder's path alone, without a line end.
bool ReadWorkPath(const char* folder, char (&workPath)[MAX_PATH]) {
  char file[MAX_PATH + 16];
  wsprintfA(file, "%s\\workpath", folder);
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  in.read(workPath, MAX_PATH - 1);
  workPath[in.gcount()] = '\0';
  return true;
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
