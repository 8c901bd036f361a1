// Sample Velmorix.exe carried in the program archive until the real program takes
// its place: a window that shows the folder it runs from and the work folder that
// the installer recorded in the workpath file beside it.
#include <windows.h>

#include <cstring>
#include <fstream>

namespace {

const char kClassName[] = "VelmorixSampleApp";
const char kTitle[] = "Тривеллон";

char g_text[1024];

// The folder of this executable, without a trailing backslash.
void ModuleFolder(char (&folder)[MAX_PATH]) {
  const DWORD length = GetModuleFileNameA(nullptr, folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    folder[0] = '\0';
    return;
  }
  char* last = std::strrchr(folder, '\\');
  if (last != nullptr) *last = '\0';
}

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

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      RECT area;
      GetClientRect(window, &area);
      InflateRect(&area, -12, -12);
      SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
      SetBkMode(dc, TRANSPARENT);
      DrawTextA(dc, g_text, -1, &area, DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  ComposeText();
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kClassName;
  if (!RegisterClassExA(&windowClass)) return 1;
  HWND window = CreateWindowExA(0, kClassName, kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 480, 240,
                                nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  ShowWindow(window, show);
  UpdateWindow(window);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}
