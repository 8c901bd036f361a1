#include "wizard/progress_board.h"

#include <gtest/gtest.h>
#include <commctrl.h>

#include <string>

#include "engine_test_support.h"
#include "resource_ids.h"
#include "shared/system_libraries.h"

namespace {

int g_doneNotices = 0;
LRESULT CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && LOWORD(wParam) == ID_WORKER_DONE) ++g_doneNotices;
  return DefWindowProcA(window, message, wParam, lParam);
}

// The page's three progress controls, real ones, on a window of this thread.
class BoardPage {
 public:
  BoardPage() {
    InitProgressBarControls();
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = PageProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "VelmorixBoardPage";
    RegisterClassA(&windowClass);
    page_ = CreateWindowExA(0, "VelmorixBoardPage", "", WS_OVERLAPPEDWINDOW, 0, 0, 400, 200, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
    Child(PROGRESS_CLASSA, IDC_PROGRESS_OVERALL);
    Child("STATIC", IDC_PROGRESS_CURRENT_FILE);
    Child(PROGRESS_CLASSA, IDC_PROGRESS_FILE);
  }
  ~BoardPage() { DestroyWindow(page_); }
  HWND Window() const { return page_; }
  int Position(int id) const { return static_cast<int>(SendDlgItemMessageA(page_, id, PBM_GETPOS, 0, 0)); }
  int Maximum(int id) const { return static_cast<int>(SendDlgItemMessageA(page_, id, PBM_GETRANGE, FALSE, 0)); }
  std::string Label() const {
    char text[MAX_PATH] = {};
    GetDlgItemTextA(page_, IDC_PROGRESS_CURRENT_FILE, text, MAX_PATH);
    return text;
  }

 private:
  void Child(const char* windowClass, int id) {
    CreateWindowExA(0, windowClass, "", WS_CHILD, 0, 0, 100, 20, page_,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
  }
  HWND page_ = nullptr;
};

struct Publisher {
  ProgressBoard* board;
  int files;
};

DWORD WINAPI PublishRun(LPVOID parameter) {
  const auto* run = static_cast<Publisher*>(parameter);
  run->board->Begin(run->files);
  for (int i = 0; i < run->files; ++i) {
    run->board->FileStarted(("C:\\dest\\file" + std::to_string(i) + ".bin").c_str());
    for (int p = 0; p <= 1000; p += 100) run->board->FilePosition(p);
    run->board->FilesDone(i + 1);
  }
  return 0;
}

TEST(ProgressBoard, TheWorkerNeverWaitsForThePageAndThePageEndsExact) {
  BoardPage page;
  ProgressBoard board;
  board.Reset(page.Window());
  // This thread does not pump while the worker publishes a whole run: a worker that
  // waited for the page (a synchronous send) would still be waiting after 10 s.
  Publisher run{&board, 1000};
  const UniqueHandle thread(CreateThread(nullptr, 0, PublishRun, &run, 0, nullptr));
  ASSERT_TRUE(thread);
  ASSERT_EQ(WaitForSingleObject(thread.Get(), 10000), WAIT_OBJECT_0) << "the worker waited for the page";

  board.Show();
  EXPECT_EQ(page.Maximum(IDC_PROGRESS_OVERALL), 1000);
  EXPECT_EQ(page.Maximum(IDC_PROGRESS_FILE), 1000);
  EXPECT_EQ(page.Position(IDC_PROGRESS_OVERALL), 1000);
  EXPECT_EQ(page.Position(IDC_PROGRESS_FILE), 1000);
  EXPECT_EQ(page.Label(), "C:\\dest\\file999.bin");

  // A new run starts from nothing; the end notice reaches the page before Finished returns.
  board.Reset(page.Window());
  enginetest::PumpedThread worker([&board] {
    board.Begin(3);
    board.FileStarted("C:\\dest\\only.bin");
    board.FilePosition(400);
    board.Finished(false);
    return DWORD{0};
  });
  g_doneNotices = 0;
  worker.Start();
  ASSERT_TRUE(worker.Finish(10000));
  EXPECT_EQ(g_doneNotices, 1);
  board.Show();
  EXPECT_EQ(page.Maximum(IDC_PROGRESS_OVERALL), 3);
  EXPECT_EQ(page.Position(IDC_PROGRESS_FILE), 400);
  EXPECT_EQ(page.Label(), "C:\\dest\\only.bin");
}

}  // namespace
