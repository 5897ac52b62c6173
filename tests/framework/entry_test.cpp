// The framework's run of an application: start-up, the message loop or
// none, the exit hook's result as the exit code.
#include <gtest/gtest.h>

#include "framework/winapp.h"
#include "framework/wnd.h"

namespace {

// An application object for one run; the test program's own comes back
// when it goes.
class RunApp : public CWinApp {
 public:
  BOOL m_bStart = FALSE;
  int m_nExitCode = -5;  // -5: the framework's default exit hook
  bool m_bMakeMainWindow = false;
  CString m_strCmdLine;
  CWnd m_mainWnd;
  HWND m_hMainWnd = NULL;

  BOOL InitInstance() override {
    m_strCmdLine = m_lpCmdLine;
    if (m_bMakeMainWindow) {
      RECT rect = {0, 0, 10, 10};
      m_mainWnd.Create(NULL, "main", WS_POPUP, rect, NULL, 0);
      m_hMainWnd = m_mainWnd.m_hWnd;
      m_pMainWnd = &m_mainWnd;
    }
    if (m_bStart) ::PostQuitMessage(9);
    return m_bStart;
  }
  int ExitInstance() override { return m_nExitCode == -5 ? CWinApp::ExitInstance() : m_nExitCode; }
};

TEST(EntryPoint, StartUpFalseRunsNoLoopAndExitsWithTheHooksResult) {
  CWinApp* own = AfxGetApp();
  {
    RunApp app;
    app.m_nExitCode = 0;
    app.m_bMakeMainWindow = true;
    EXPECT_EQ(0, AfxWinMain(::GetModuleHandleA(NULL), NULL, const_cast<LPSTR>("\t \r\n a.txt b"),
                            SW_SHOW));
    EXPECT_STREQ("a.txt b", app.m_strCmdLine);
    // A main window still registered is destroyed, and the registration goes.
    EXPECT_FALSE(::IsWindow(app.m_hMainWnd));
    EXPECT_EQ(nullptr, app.m_pMainWnd);
    app.m_nExitCode = 3;
    EXPECT_EQ(3, AfxWinMain(::GetModuleHandleA(NULL), NULL, NULL, SW_SHOW));
    EXPECT_STREQ("", app.m_strCmdLine);
  }
  EXPECT_EQ(own, AfxGetApp());
}

TEST(EntryPoint, StartUpTrueRunsTheLoopUntilQuit) {
  RunApp app;
  app.m_bStart = TRUE;
  EXPECT_EQ(9, AfxWinMain(::GetModuleHandleA(NULL), NULL, const_cast<LPSTR>(""), SW_SHOW));
  // The loop consumed the quit message: nothing is left for later loops.
  MSG msg;
  EXPECT_FALSE(::PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

}  // namespace
