#include "wizard/main_window.h"

#include <clocale>

#include "engine/install_worker.h"
#include "engine/installation_removal.h"
#include "engine/run_outcome.h"
#include "resource_ids.h"
#include "shared/texts.h"
#include "wizard/exit_status.h"
#include "wizard/installer_instance.h"
#include "wizard/mode_page.h"
#include "wizard/page_frame.h"

namespace {

// Set once, before the main window exists.
WizardEnd g_wizardEnd = nullptr;

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: {
      setlocale(LC_ALL, ".ACP");
      // A killed run's files are put back first; beside another installer's run, or
      // before a journal that cannot be read, the wizard says so and ends.
      const RunStart start = RecoverInterruptedRun(TheInstallerState().is64BitWindows != 0, &TheRunLog());
      if (start == RunStart::Busy || start == RunStart::Unrecoverable) {
        MessageBoxA(nullptr, start == RunStart::Busy ? texts::kAnotherRunActive : texts::kInstallFilesFailed,
                    texts::kWindowTitle, MB_OK);
        if (g_wizardEnd != nullptr)
          g_wizardEnd(start == RunStart::Busy ? ProcessEnd::AnotherRunActive : ProcessEnd::WizardNotStarted);
        return -1;  // no main window: the entry point ends as for one not created
      }
      // So is a removal the uninstaller left midway (the run lock is held now).
      RecoverInterruptedRemoval(TheInstallerState().is64BitWindows != 0);
      HWND modePage = CreatePage(TheInstallerState().instanceHandle, window, IDD_MODE_PAGE, kModePageHandlers);
      if (modePage) {
        ShowWindow(modePage, SW_SHOW);
        SetFocus(modePage);
      }
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(ExitStatusOf(ProcessEnd::WizardClosed));
      return 0;
    case WM_CLOSE:
    case WM_COMMAND:
      // Every end of the wizard arrives here; the worker, if any, ends with the process.
      if (g_wizardEnd != nullptr) g_wizardEnd(ProcessEnd::WizardClosed);
      PostQuitMessage(ExitStatusOf(ProcessEnd::WizardClosed));
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

HWND CreateMainWindow(HINSTANCE instance, WizardEnd end) {
  g_wizardEnd = end;
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = instance;
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = texts::kMainWindowClass;
  if (!RegisterClassExA(&windowClass)) return nullptr;
  // Style 0x20 carries no visibility, caption or frame bit: the window is never shown.
  return CreateWindowExA(0, texts::kMainWindowClass, texts::kWindowTitle, 0x20, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                         nullptr, nullptr, instance, nullptr);
}

bool IsDialogNavigationKey(const MSG& message) {
  return message.message == WM_KEYDOWN &&
         (message.wParam == VK_TAB || message.wParam == VK_RETURN || message.wParam == VK_ESCAPE);
}

int RunMessageLoop() {
  MSG message;
  // Any non-zero result, an error included, counts as a message.
  while (GetMessageA(&message, nullptr, 0, 0)) {
    if (IsDialogNavigationKey(message) && IsDialogMessageA(GetActiveWindow(), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}
