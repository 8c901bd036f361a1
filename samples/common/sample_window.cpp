#include "common/sample_window.h"

#include <cstring>

namespace {

const char* g_text = "";

LRESULT CALLBACK TextWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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

void ModuleFolder(char (&folder)[MAX_PATH]) {
  const DWORD length = GetModuleFileNameA(nullptr, folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    folder[0] = '\0';
    return;
  }
  char* last = std::strrchr(folder, '\\');
  if (last != nullptr) *last = '\0';
}

int RunTextWindow(HINSTANCE instance, int show, const char* className, const char* title, const char* text) {
  g_text = text;
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = TextWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = className;
  if (!RegisterClassExA(&windowClass)) return 1;
  HWND window = CreateWindowExA(0, className, title, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                                CW_USEDEFAULT, 460, 180, nullptr, nullptr, instance, nullptr);
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
