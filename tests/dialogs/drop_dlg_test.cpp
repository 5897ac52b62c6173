// The main drop window, run as start-up runs it (RunMainDropWindow) on the
// test's thread while a driver thread works it the way a user does: drops
// posted to the real window with a drop handle built here, the check box
// clicked, keys pressed, the Translate Linebreaks dialog and its message
// boxes answered.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "app/profile_app.h"
#include "memory_canvas.h"
#include "dialog_template.h"
#include "dialogs/drop_dlg.h"
#include "framework/winapp.h"
#include "resources/drop_about.h"
#include "support.h"
#include "ui_support.h"
#include "test_app.h"
#include "win32/wide_text.h"

namespace {

TestApp<CProfileApp> theApp;

const char kCaption[] = "Quenlat";
const char kTranslateCaption[] = "Translate Linebreaks";
const char kAboutCaption[] = "About Quenlat";
const int kStatusLine = 1007;  // of the Translate Linebreaks dialog

// A drop as the shell hands it over: a DROPFILES header followed by the
// paths, each ending in a zero, and one more zero. With wide, the paths
// (UTF-8 here) go in UTF-16, as today's shell gives them.
HDROP MakeDrop(const std::vector<std::string>& paths, bool wide = false) {
  std::vector<std::wstring> widePaths;
  size_t size = sizeof(DROPFILES) + (wide ? sizeof(wchar_t) : 1);
  for (const std::string& path : paths) {
    widePaths.emplace_back();
    WideFromUtf8(path, &widePaths.back());
    size += wide ? (widePaths.back().size() + 1) * sizeof(wchar_t) : path.size() + 1;
  }
  HGLOBAL hDrop = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  DROPFILES* pDrop = static_cast<DROPFILES*>(::GlobalLock(hDrop));
  pDrop->pFiles = sizeof(DROPFILES);
  pDrop->fWide = wide ? TRUE : FALSE;
  char* p = reinterpret_cast<char*>(pDrop) + sizeof(DROPFILES);
  for (size_t i = 0; i < paths.size(); ++i) {
    const size_t bytes = wide ? (widePaths[i].size() + 1) * sizeof(wchar_t) : paths[i].size() + 1;
    std::memcpy(p, wide ? static_cast<const void*>(widePaths[i].c_str()) : paths[i].c_str(), bytes);
    p += bytes;
  }
  ::GlobalUnlock(hDrop);
  return static_cast<HDROP>(hDrop);
}

// Every text that a static control is given, from the moment it is watched.
class TextRecorder {
 public:
  void Watch(HWND hWnd) {
    s_pThis = this;
    m_pfnOld = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Proc)));
  }
  std::vector<std::string> Texts() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_texts;
  }

 private:
  static LRESULT CALLBACK Proc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT) {
      std::lock_guard<std::mutex> lock(s_pThis->m_mutex);
      s_pThis->m_texts.push_back(reinterpret_cast<const char*>(lParam));
    }
    return ::CallWindowProcA(s_pThis->m_pfnOld, hWnd, message, wParam, lParam);
  }
  static TextRecorder* s_pThis;
  WNDPROC m_pfnOld = NULL;
  std::mutex m_mutex;
  std::vector<std::string> m_texts;
};
TextRecorder* TextRecorder::s_pThis = NULL;

class DropDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_savedProfile = theApp.m_pszProfileName;
    theApp.SetProfileName(Profile().c_str());
  }
  void TearDown() override { theApp.SetProfileName(m_savedProfile); }

  std::string Profile() const { return m_scratch / "QUENLAT.INI"; }
  // The stored option as written, "" when there is none.
  std::string StoredOption() const {
    char szValue[16] = "";
    ::GetPrivateProfileStringA("Options", "AutoMinimize", "", szValue, sizeof szValue,
                               Profile().c_str());
    return szValue;
  }

  // Runs the main window as start-up does, on this thread, while drive
  // works it from another; drive must leave it closed.
  void Run(const std::function<void(HWND)>& drive) {
    Drive(drive, [] {
      RunMainDropWindow();
      return INT_PTR(0);
    });
    EXPECT_EQ(nullptr, AfxGetMainWnd()) << "the registration goes with the window";
  }
  // The same with a window object of the test's, whose result comes back.
  INT_PTR RunModal(const std::function<void(HWND)>& drive) {
    return Drive(drive, [] {
      CDropDlg dlg;
      theApp.m_pMainWnd = &dlg;
      return dlg.DoModal();
    });
  }


  ScratchDir m_scratch;
  CString m_savedProfile;

 private:
  INT_PTR Drive(const std::function<void(HWND)>& drive, const std::function<INT_PTR()>& run) {
    return ui::RunAndDrive(kCaption, run, drive);
  }
};

bool Iconic(HWND hWnd) { return ::IsIconic(hWnd) != FALSE; }

bool WaitIconic(HWND hWnd, bool iconic) {
  return ui::WaitUntil([&] { return Iconic(hWnd) == iconic; }, 5000);
}

// The user restores the window.
void Restore(HWND hDlg) {
  ::PostMessageA(hDlg, WM_SYSCOMMAND, SC_RESTORE, 0);
  EXPECT_TRUE(WaitIconic(hDlg, false));
}

// Holds the initialisation until the dialog loop has shown the window, as
// on a host whose loop shows a dialog once, before it is initialised. A
// timer message comes only when nothing else waits, so by the second one
// after the window became visible the loop has passed its first idle moment
// and made its show.
class ShownFirstDropDlg : public CDropDlg {
 protected:
  BOOL OnInitDialog() override {
    ::SetTimer(m_hWnd, 1, 10, NULL);
    return TRUE;
  }
  LRESULT OnTimer(WPARAM, LPARAM) {
    if (IsWindowVisible() && ++m_nTicksShown == 2) {
      ::KillTimer(m_hWnd, 1);
      CDropDlg::OnInitDialog();
    }
    return 0;
  }
  int m_nTicksShown = 0;

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ShownFirstDropDlg, CDropDlg)
  ON_MESSAGE(WM_TIMER, &ShownFirstDropDlg::OnTimer)
END_MESSAGE_MAP()

template <class TDialog>
INT_PTR RunAsMainWindow() {
  TDialog dlg;
  theApp.m_pMainWnd = &dlg;
  return dlg.DoModal();
}

TEST_F(DropDlgTest, OpensMinimisedWhenEverItIsShownAndTheFirstRestoreIsTheUsers) {
  struct Order {
    const char* name;
    INT_PTR (*run)();
  } orders[] = {
      {"shown by the dialog loop after its initialisation", RunAsMainWindow<CDropDlg>},
      {"shown before its initialisation", RunAsMainWindow<ShownFirstDropDlg>},
  };
  for (const Order& order : orders) {
    SCOPED_TRACE(order.name);
    ui::RunAndDrive(kCaption, order.run, [&](HWND hDlg) {
      EXPECT_TRUE(WaitIconic(hDlg, true));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      EXPECT_TRUE(Iconic(hDlg)) << "nothing restores it";
      Restore(hDlg);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      EXPECT_FALSE(Iconic(hDlg)) << "nothing minimises it again";
      ::PostMessageA(hDlg, WM_CLOSE, 0, 0);
    });
  }
}

// Paints the window as a minimised one, over its whole client area, and
// keeps what it drew. The erase that the paint asks for fills with kErased,
// so that it shows.
const UINT WM_TEST_PAINT_MINIMISED = WM_APP + 1;
const COLORREF kErased = RGB(0, 128, 128);

struct MinimisedPaint {
  int width = 0, height = 0;
  std::vector<COLORREF> pixels;
  int erasures = 0;
};

class PaintProbeDropDlg : public CDropDlg {
 protected:
  LRESULT OnPaintMinimised(WPARAM, LPARAM lParam) {
    MinimisedPaint* paint = reinterpret_cast<MinimisedPaint*>(lParam);
    m_pPaint = paint;
    // Made what a desktop that shows minimised windows as icons makes of
    // it: a window without a frame, whose client area is the icon's area,
    // marked minimised.
    ::SetWindowLongA(m_hWnd, GWL_STYLE,
                     ::GetWindowLongA(m_hWnd, GWL_STYLE) & ~(WS_CAPTION | WS_THICKFRAME | DS_MODALFRAME));
    ::SetWindowLongA(m_hWnd, GWL_EXSTYLE, 0);
    ::SetWindowPos(m_hWnd, NULL, 0, 0, 0, 0,
                   SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::SetWindowLongA(m_hWnd, GWL_STYLE, ::GetWindowLongA(m_hWnd, GWL_STYLE) | WS_MINIMIZE);
    RECT rc;
    ::GetClientRect(m_hWnd, &rc);
    paint->width = rc.right;
    paint->height = rc.bottom;
    ::InvalidateRect(m_hWnd, NULL, TRUE);
    ::UpdateWindow(m_hWnd);
    MemoryCanvas canvas(rc.right, rc.bottom, RGB(255, 0, 255));
    HDC hDC = ::GetDC(m_hWnd);
    ::BitBlt(canvas.hdc(), 0, 0, rc.right, rc.bottom, hDC, 0, 0, SRCCOPY);
    ::ReleaseDC(m_hWnd, hDC);
    paint->pixels = canvas.Pixels();
    m_pPaint = NULL;
    return 0;
  }
  LRESULT OnIconEraseBkgnd(WPARAM wParam, LPARAM) {
    if (m_pPaint != NULL) {
      ++m_pPaint->erasures;
      RECT rc = {0, 0, m_pPaint->width, m_pPaint->height};
      CBrush brush(kErased);
      ::FillRect(reinterpret_cast<HDC>(wParam), &rc, brush);
    }
    return TRUE;
  }
  MinimisedPaint* m_pPaint = NULL;

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(PaintProbeDropDlg, CDropDlg)
  ON_MESSAGE(WM_TEST_PAINT_MINIMISED, &PaintProbeDropDlg::OnPaintMinimised)
  ON_MESSAGE(WM_ICONERASEBKGND, &PaintProbeDropDlg::OnIconEraseBkgnd)
END_MESSAGE_MAP()

TEST_F(DropDlgTest, MinimisedItPaintsTheIconCentredOverAnErasedBackground) {
  WriteBytes(Profile(), "[Options]\r\nAutoMinimize=no\r\n");
  MinimisedPaint paint;
  ui::RunAndDrive(kCaption, RunAsMainWindow<PaintProbeDropDlg>, [&](HWND hDlg) {
    ::SendMessageTimeoutA(hDlg, WM_TEST_PAINT_MINIMISED, 0, reinterpret_cast<LPARAM>(&paint),
                          SMTO_NORMAL, 5000, NULL);
    ::PostMessageA(hDlg, WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(1, paint.erasures);
  ASSERT_GT(paint.width, 32);
  ASSERT_GT(paint.height, 32);
  // The icon at ((width - 32 + 1) / 2, (height - 32 + 1) / 2) over the erased
  // background, and nothing else.
  HICON hIcon = ::LoadIconA(::GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_APPLICATION_ICON));
  MemoryCanvas expected(paint.width, paint.height, kErased);
  ::DrawIcon(expected.hdc(), (paint.width - 31) / 2, (paint.height - 31) / 2, hIcon);
  ASSERT_EQ(expected.Pixels().size(), paint.pixels.size());
  EXPECT_TRUE(expected.Pixels() == paint.pixels) << paint.width << " x " << paint.height;
}

TEST(DropTemplate, IsTheDesignedWindow) {
  // Popup, visible, caption, system menu, minimise box, modal frame, font.
  const ExpectedDialog dialog = {0x90CA00C0u, 0, 0, 169, 82, "Quenlat", 8, "MS Sans Serif"};
  const ExpectedControl controls[] = {
      {IDOK, "Button", "Close", 117, 7, 41, 14, 0x50010001},  // default push button, tab stop
      {1008, "Button", "About...", 117, 24, 41, 14, 0x50010000},
      {0xFFFF, "Static", "Drag files onto this window to start the conversion dialog.", 21, 20,
       76, 28, 0x50020001},  // centred, starts a group
      {0xFFFF, "Button", "", 9, 4, 102, 52, 0x50000007},  // group box
      {1000, "Button", "Auto Minimize", 9, 64, 102, 10, 0x50010003},  // automatic check box
  };
  ExpectDialogTemplate(IDD_DROP, dialog, controls);
}

TEST_F(DropDlgTest, ADropOpensTheTranslateDialogWithThePathsInTheShellsOrder) {
  std::string file = m_scratch / "first.txt";
  WriteBytes(file, "a\nb\n");
  std::string folder = m_scratch / "a folder";
  MakeFolder(folder);
  std::string longPath = m_scratch.path();
  while (longPath.size() <= 300) longPath += "deeper\\";
  longPath += "last.txt";
  const std::vector<std::string> paths = {file, folder, longPath};

  TextRecorder status;
  std::vector<std::string> questions;
  Run([&](HWND hDlg) {
    // First run: no profile, so the option is on and the window opens
    // minimised.
    EXPECT_TRUE(WaitIconic(hDlg, true));
    EXPECT_EQ(BST_CHECKED, ui::CheckState(hDlg, IDC_AUTO_MINIMIZE));
    Restore(hDlg);

    HDROP hDrop = MakeDrop(paths);
    ::PostMessageA(hDlg, WM_DROPFILES, reinterpret_cast<WPARAM>(hDrop), 0);
    HWND hTranslate = ui::WaitForDialog(kTranslateCaption, ::GetWindowThreadProcessId(hDlg, NULL));
    ASSERT_NE(nullptr, hTranslate);
    status.Watch(::GetDlgItem(hTranslate, kStatusLine));
    EXPECT_EQ(hDlg, ::GetWindow(hTranslate, GW_OWNER));
    EXPECT_FALSE(::IsWindowEnabled(hDlg));
    EXPECT_EQ(0u, ::GlobalSize(hDrop)) << "the drop is released before the batch";
    EXPECT_EQ("3 file(s) to convert...", ui::ItemText(hTranslate, kStatusLine));

    // The folder and the long path cannot be opened for writing: each
    // question names the whole path.
    ui::Click(hTranslate, IDOK);
    HWND hPrevious = NULL;
    for (int i = 0; i < 2; ++i) {
      if (hPrevious != NULL) ui::WaitUntil([&] { return !::IsWindow(hPrevious); });
      HWND hBox = ui::WaitForOwnedBox(hTranslate, kCaption);
      ASSERT_NE(nullptr, hBox);
      questions.push_back(ui::BoxText(hBox));
      ui::Click(hBox, IDYES);
      hPrevious = hBox;
    }
    EXPECT_TRUE(ui::WaitForItemText(hTranslate, kStatusLine, "1 files converted."));
    ui::Click(hTranslate, IDCANCEL);
    EXPECT_TRUE(ui::WaitUntil([&] { return !::IsWindow(hTranslate); }));

    // The option is on: the window minimises itself after the batch.
    EXPECT_TRUE(WaitIconic(hDlg, true));
    EXPECT_TRUE(::IsWindowEnabled(hDlg));

    // With the option off it keeps its state.
    Restore(hDlg);
    ASSERT_TRUE(ui::ClickAndWait(hDlg, IDC_AUTO_MINIMIZE));
    ::PostMessageA(hDlg, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({file})), 0);
    hTranslate = ui::WaitForDialog(kTranslateCaption, ::GetWindowThreadProcessId(hDlg, NULL));
    ASSERT_NE(nullptr, hTranslate);
    EXPECT_EQ("1 file(s) to convert...", ui::ItemText(hTranslate, kStatusLine));
    ui::Click(hTranslate, IDCANCEL);
    EXPECT_TRUE(ui::WaitUntil([&] { return !::IsWindow(hTranslate); }));
    EXPECT_TRUE(ui::WaitUntil([&] { return ::IsWindowEnabled(hDlg) != FALSE; }));
    EXPECT_FALSE(Iconic(hDlg));
    ::PostMessageA(hDlg, WM_CLOSE, 0, 0);
  });
  EXPECT_EQ((std::vector<std::string>{"File 1: " + file, "File 2: " + folder,
                                      "File 3: " + longPath, "1 files converted."}),
            status.Texts());
  const std::string sentence = "\n\nThis file cannot be opened for writing. Continue batch?";
  EXPECT_EQ((std::vector<std::string>{folder + sentence, longPath + sentence}), questions);
  EXPECT_EQ("a\r\nb\r\n", ReadBytes(file));
}

// The shell names dropped files in UTF-16: each reaches the batch exactly,
// so a name with a letter the ANSI code page lacks, or one that ends in a
// dot, converts its own file and not the look-alike beside it.
TEST_F(DropDlgTest, ADropConvertsExactlyTheFilesItNames) {
  const std::vector<std::string> named = {m_scratch / "\xC4\x80" "bcd.txt", m_scratch / "b.txt."};
  const std::vector<std::string> beside = {m_scratch / "abcd.txt", m_scratch / "b.txt"};
  for (const std::string& path : named) WriteBytes(path, "a\nb\n");
  for (const std::string& path : beside) WriteBytes(path, "a\nb\n");
  Run([&](HWND hDlg) {
    EXPECT_TRUE(WaitIconic(hDlg, true));
    Restore(hDlg);
    ::PostMessageA(hDlg, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(named, true)), 0);
    HWND hTranslate = ui::WaitForDialog(kTranslateCaption, ::GetWindowThreadProcessId(hDlg, NULL));
    ASSERT_NE(nullptr, hTranslate);
    ui::Click(hTranslate, IDOK);
    EXPECT_TRUE(ui::WaitForItemText(hTranslate, kStatusLine, "2 files converted."));
    ui::Click(hTranslate, IDCANCEL);
    EXPECT_TRUE(ui::WaitUntil([&] { return !::IsWindow(hTranslate); }));
    ::PostMessageA(hDlg, WM_CLOSE, 0, 0);
  });
  for (const std::string& path : named) EXPECT_EQ("a\r\nb\r\n", ReadBytes(path)) << path;
  for (const std::string& path : beside) EXPECT_EQ("a\nb\n", ReadBytes(path)) << path;
}

TEST(GetDroppedFiles, ReplacesTheListWithEveryPathWhole) {
  std::string longPath = "C:\\" + std::string(400, 'x') + "\\y.txt";
  CStringList list;
  list.AddTail("left over");
  HDROP hDrop = MakeDrop({"C:\\a.txt", longPath, "C:\\folder", "C:\\a.txt"});
  EXPECT_TRUE(CDropDlg::GetDroppedFiles(hDrop, &list));
  std::vector<std::string> got;
  for (POSITION pos = list.GetHeadPosition(); pos != NULL;) got.push_back(list.GetNext(pos).GetString());
  EXPECT_EQ((std::vector<std::string>{"C:\\a.txt", longPath, "C:\\folder", "C:\\a.txt"}), got);
  ::GlobalFree(hDrop);
}

TEST_F(DropDlgTest, TheOptionIsWrittenOnEachClickAndReadAtTheNextOpening) {
  // First opening: no entry, so checked and minimised. Each click writes
  // the new state at once and leaves the window as it is; Escape then keeps
  // what was written.
  Run([&](HWND hDlg) {
    EXPECT_TRUE(WaitIconic(hDlg, true));
    EXPECT_EQ(BST_CHECKED, ui::CheckState(hDlg, IDC_AUTO_MINIMIZE));
    EXPECT_EQ("", StoredOption());
    const char* expected[] = {"no", "yes", "no"};
    for (const char* value : expected) {
      ASSERT_TRUE(ui::ClickAndWait(hDlg, IDC_AUTO_MINIMIZE));
      EXPECT_EQ(value, StoredOption());
      EXPECT_TRUE(Iconic(hDlg));
    }
    Restore(hDlg);
    ui::PressKey(hDlg, VK_ESCAPE);
  });
  EXPECT_EQ("no", StoredOption());

  // "no": restored, unchecked, centred on the work area, the Close button
  // focused; the icon is the window's and the drag image.
  Run([&](HWND hDlg) {
    EXPECT_FALSE(Iconic(hDlg));
    EXPECT_EQ(BST_UNCHECKED, ui::CheckState(hDlg, IDC_AUTO_MINIMIZE));
    RECT rcWork, rcWindow;
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &rcWork, 0);
    ::GetWindowRect(hDlg, &rcWindow);
    EXPECT_NEAR((rcWork.left + rcWork.right) / 2, (rcWindow.left + rcWindow.right) / 2, 1);
    EXPECT_NEAR((rcWork.top + rcWork.bottom) / 2, (rcWindow.top + rcWindow.bottom) / 2, 1);
    EXPECT_TRUE(ui::WaitUntil([&] { return ui::FocusOf(hDlg) == ::GetDlgItem(hDlg, IDOK); }));
    HICON hIcon = ::LoadIconA(::GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_APPLICATION_ICON));
    ASSERT_NE(nullptr, hIcon);
    EXPECT_EQ(reinterpret_cast<LRESULT>(hIcon), ::SendMessageA(hDlg, WM_QUERYDRAGICON, 0, 0));
    EXPECT_EQ(reinterpret_cast<LRESULT>(hIcon), ::SendMessageA(hDlg, WM_GETICON, ICON_BIG, 0));

    ASSERT_TRUE(ui::ClickAndWait(hDlg, IDC_AUTO_MINIMIZE));
    EXPECT_EQ("yes", StoredOption());
    EXPECT_FALSE(Iconic(hDlg));
    ::PostMessageA(hDlg, WM_CLOSE, 0, 0);
  });

  // "yes" again: checked and minimised.
  Run([&](HWND hDlg) {
    EXPECT_TRUE(WaitIconic(hDlg, true));
    EXPECT_EQ(BST_CHECKED, ui::CheckState(hDlg, IDC_AUTO_MINIMIZE));
    ::PostMessageA(hDlg, WM_CLOSE, 0, 0);
  });
}

// How the window ends, each way tried on a fresh run.
TEST_F(DropDlgTest, CloseEnterEscapeTheCloseBoxAndTheEndOfTheSessionEndIt) {
  struct Way {
    const char* name;
    std::function<void(HWND)> act;
    INT_PTR result;
  } ways[] = {
      {"Close clicked", [](HWND hDlg) { ui::Click(hDlg, IDOK); }, IDOK},
      {"Enter", [](HWND hDlg) { ui::PressKey(hDlg, VK_RETURN); }, IDOK},
      {"Enter on the check box",
       [](HWND hDlg) {
         ui::ClickAndWait(hDlg, IDC_AUTO_MINIMIZE);
         ui::PressKey(hDlg, VK_RETURN);
       },
       IDOK},
      {"Escape", [](HWND hDlg) { ui::PressKey(hDlg, VK_ESCAPE); }, IDCANCEL},
      {"close box", [](HWND hDlg) { ::PostMessageA(hDlg, WM_SYSCOMMAND, SC_CLOSE, 0); }, IDCANCEL},
      {"WM_CLOSE", [](HWND hDlg) { ::PostMessageA(hDlg, WM_CLOSE, 0, 0); }, IDCANCEL},
      {"session ends",
       [](HWND hDlg) {
         // A session that goes on changes nothing.
         ::SendMessageTimeoutA(hDlg, WM_ENDSESSION, FALSE, 0, SMTO_NORMAL, 5000, NULL);
         EXPECT_TRUE(::IsWindow(hDlg));
         ::PostMessageA(hDlg, WM_ENDSESSION, TRUE, 0);
       },
       IDCANCEL},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    WriteBytes(Profile(), "[Options]\r\nAutoMinimize=no\r\n");
    INT_PTR result = RunModal([&](HWND hDlg) {
      ASSERT_TRUE(ui::WaitUntil([&] { return ui::FocusOf(hDlg) == ::GetDlgItem(hDlg, IDOK); }));
      way.act(hDlg);
    });
    EXPECT_EQ(way.result, result);
  }
}

TEST_F(DropDlgTest, EnterOnAboutOpensTheAboutBoxOwnedByTheWindow) {
  WriteBytes(Profile(), "[Options]\r\nAutoMinimize=no\r\n");
  Run([&](HWND hDlg) {
    HWND hAbout = ::GetDlgItem(hDlg, IDC_ABOUT);
    // Until the window is active, it cannot take the focus.
    ASSERT_TRUE(ui::WaitUntil([&] {
      ::SendMessageTimeoutA(hDlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hAbout), TRUE,
                            SMTO_NORMAL, 5000, NULL);
      return ui::FocusOf(hDlg) == hAbout;
    }));
    ui::PressKey(hDlg, VK_RETURN);
    HWND hBox = ui::WaitForDialog(kAboutCaption, ::GetWindowThreadProcessId(hDlg, NULL));
    ASSERT_NE(nullptr, hBox);
    EXPECT_EQ(hDlg, ::GetWindow(hBox, GW_OWNER));
    EXPECT_FALSE(::IsWindowEnabled(hDlg));
    ui::PressKey(hBox, VK_ESCAPE);
    EXPECT_TRUE(ui::WaitUntil([&] { return !::IsWindow(hBox); }));
    EXPECT_TRUE(ui::WaitUntil([&] { return ::IsWindowEnabled(hDlg) != FALSE; }));
    ::PostMessageA(hDlg, WM_CLOSE, 0, 0);
  });
}

}  // namespace
