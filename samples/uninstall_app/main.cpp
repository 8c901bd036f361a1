// A stand-in Uninstall.exe for the mode page's tests (never packed): it names the
// installation it would remove and removes nothing.
#include <windows.h>

#include "common/sample_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  char folder[MAX_PATH];
  ModuleFolder(folder);
  static char text[512];
  wsprintfA(text, "Будет удалена установка программы 'Тривеллон' в папке:\r\n%s\r\n\r\n"
                  "Это пример программы удаления: она ничего не удаляет.", folder);
  return RunTextWindow(instance, show, "VelmorixSampleUninstall", "Удаление Тривеллон", text);
}
