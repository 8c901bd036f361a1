#include "wizard/mode_page.h"

#include "wizard/page_frame.h"

INT_PTR CALLBACK ModePageProc(HWND page, UINT message, WPARAM, LPARAM) {
  if (message == WM_CLOSE) {
    ForwardClose(page);
    return TRUE;
  }
  return message == WM_INITDIALOG;
}
