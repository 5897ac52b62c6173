// The progress bar: its pixels on a memory device context, the position
// rules, the paints while animating, the window class, and who deletes the
// object.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <new>
#include <vector>

#include "controls/progress_bar.h"
#include "framework/dialog.h"
#include "framework/text.h"
#include "memory_canvas.h"

// Deletions are watched so that a test can tell whether an object was
// deleted without touching it afterwards.
namespace {
const void* g_pWatched = nullptr;
bool g_bWatchedDeleted = false;
}  // namespace

void* operator new(std::size_t n) {
  void* p = std::malloc(n != 0 ? n : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void operator delete(void* p) noexcept {
  if (p != nullptr && p == g_pWatched) g_bWatchedDeleted = true;
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace {

const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kBlue = RGB(0, 0, 255);
const COLORREF kGrey = RGB(128, 128, 128);
const COLORREF kBlack = RGB(0, 0, 0);

// Records every paint of the bar with the position it showed, and erases.
class RecordingBar : public CProgressBar {
 public:
  std::vector<int> m_paints;
  int m_nErases = 0;
  void DrawBar(CDC* pDC) override {
    m_paints.push_back(m_nPos);
    CProgressBar::DrawBar(pDC);
  }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_ERASEBKGND) ++m_nErases;
    return CProgressBar::WindowProc(message, wParam, lParam);
  }
};

// A canvas whose font is the system font without smoothing (Wine smooths the
// default one), so that every text pixel is either the text's colour or the
// background's.
class BarCanvas : public MemoryCanvas {
 public:
  BarCanvas(int width, int height) : MemoryCanvas(width, height, RGB(128, 128, 128)) {
    LOGFONTA lf;
    ::GetObjectA(::GetStockObject(SYSTEM_FONT), sizeof lf, &lf);
    lf.lfQuality = NONANTIALIASED_QUALITY;
    m_hFont = ::CreateFontIndirectA(&lf);
    m_hOldFont = dc()->SelectObject(m_hFont);
  }
  ~BarCanvas() {
    dc()->SelectObject(m_hOldFont);
    ::DeleteObject(m_hFont);
  }

 private:
  HFONT m_hFont;
  HGDIOBJ m_hOldFont;
};

// A visible top-level window to hold bars made with Create.
class Host {
 public:
  Host() {
    RECT rect = {100, 100, 400, 200};
    m_wnd.Create(NULL, "host", WS_POPUP | WS_VISIBLE, rect, NULL, 0);
  }
  CWnd* wnd() { return &m_wnd; }

 private:
  CWnd m_wnd;
};

const int kWidth = 204;  // an inner width of 200
const int kHeight = 24;

TEST(ProgressBarDrawing, FrameFillAndSplitText) {
  ASSERT_TRUE(RegisterProgressBarClass());
  Host host;
  RecordingBar bar;
  RECT rect = {0, 0, kWidth, kHeight};
  ASSERT_TRUE(bar.Create("User1", WS_CHILD | WS_VISIBLE, rect, host.wnd(), 1005));

  struct Case {
    UINT pos;
    int fillEnd;  // first pixel of the empty part
  } cases[] = {{0, 2}, {1, 4}, {33, 68}, {50, 102}, {99, 200}, {100, 202}};
  for (const Case& c : cases) {
    bar.SetPos(c.pos, FALSE);
    BarCanvas canvas(kWidth, kHeight);
    bar.DrawBar(canvas.dc());

    // The text's own pixels, drawn alone in black on white at the same spot.
    CString text;
    FormatString(text, "%d%%", static_cast<int>(c.pos));
    BarCanvas mask(kWidth, kHeight);
    SIZE size = mask.dc()->GetTextExtent(text, text.GetLength());
    RECT inner = {2, 2, kWidth - 2, kHeight - 2};
    mask.dc()->SetBkColor(kWhite);
    mask.dc()->SetTextColor(kBlack);
    mask.dc()->ExtTextOut(2 + (200 - size.cx) / 2, 2 + (kHeight - 4 - size.cy) / 2,
                          ETO_OPAQUE | ETO_CLIPPED, &inner, text, text.GetLength(), NULL);

    int glyphPixels = 0;
    int wrong = 0;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        COLORREF expected;
        if (x == 0 || y == 0) {
          expected = kGrey;
        } else if (x == kWidth - 1 || y == kHeight - 1) {
          expected = kWhite;
        } else if (x == 1 || y == 1 || x == kWidth - 2 || y == kHeight - 2) {
          expected = kBlack;
        } else {
          bool glyph = mask.Pixel(x, y) == kBlack;
          glyphPixels += glyph;
          bool filled = x < c.fillEnd;
          expected = filled != glyph ? kBlue : kWhite;
        }
        if (canvas.Pixel(x, y) != expected && ++wrong <= 5) {
          ADD_FAILURE() << c.pos << "%: pixel " << x << "," << y << " is " << std::hex
                        << canvas.Pixel(x, y) << ", expected " << expected;
        }
      }
    }
    EXPECT_EQ(0, wrong) << c.pos << "%";
    EXPECT_GT(glyphPixels, 10) << c.pos << "%: the text was drawn";
  }
}

TEST(ProgressBarPosition, ClampsAndAnimatesInOrder) {
  Host host;
  RecordingBar bar;
  RECT rect = {0, 0, kWidth, kHeight};
  ASSERT_TRUE(bar.Create("User1", WS_CHILD | WS_VISIBLE, rect, host.wnd(), 1005));
  bar.UpdateWindow();  // the first paint, after the window was shown
  bar.m_nErases = 0;

  struct Case {
    UINT from;
    UINT to;
    BOOL animate;
    std::vector<int> paints;
  } cases[] = {
      {0, 250, FALSE, {100}},
      {0, UINT_MAX, FALSE, {100}},
      {0, 37, FALSE, {37}},
      {10, 13, TRUE, {10, 11, 12, 13}},
      {13, 10, TRUE, {13, 12, 11, 10}},
      {10, 10, TRUE, {10}},
      {98, 250, TRUE, {98, 99, 100}},
  };
  for (const Case& c : cases) {
    bar.SetPos(c.from, FALSE);
    bar.m_paints.clear();
    bar.SetPos(c.to, c.animate);
    // Each paint happened before SetPos returned.
    EXPECT_EQ(c.paints, bar.m_paints) << c.from << " -> " << c.to;
    EXPECT_EQ(c.paints.back(), bar.GetPos());
  }
  // Repaints never erase first.
  EXPECT_EQ(0, bar.m_nErases);

  // A click changes nothing.
  bar.m_paints.clear();
  bar.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  bar.UpdateWindow();
  EXPECT_EQ(100, bar.GetPos());
  EXPECT_TRUE(bar.m_paints.empty());
}

TEST(ProgressBarClass, RegistersOnceAndRefusesAnotherProcedure) {
  HINSTANCE hInstance = ::GetModuleHandleA(NULL);
  ::UnregisterClassA("ProgressBar", hInstance);
  WNDCLASSA other = {};
  other.lpfnWndProc = ::DefWindowProcA;
  other.hInstance = hInstance;
  other.lpszClassName = "ProgressBar";
  ASSERT_NE(0, ::RegisterClassA(&other));
  EXPECT_FALSE(RegisterProgressBarClass());
  ASSERT_TRUE(::UnregisterClassA("ProgressBar", hInstance));

  EXPECT_TRUE(RegisterProgressBarClass());
  EXPECT_TRUE(RegisterProgressBarClass());
  WNDCLASSA found;
  ASSERT_TRUE(::GetClassInfoA(hInstance, "ProgressBar", &found));
  EXPECT_EQ(ProgressBarWndProc, found.lpfnWndProc);
  EXPECT_EQ(0u, found.style);
  EXPECT_EQ(NULL, found.hCursor);
  EXPECT_EQ(NULL, found.hbrBackground);
}

class BarDlg : public CDialog {
 public:
  BarDlg() : CDialog(300) {}
  CProgressBar* m_pBar = nullptr;
  HWND m_hBar = NULL;
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    m_hBar = ::GetDlgItem(m_hWnd, 1005);
    m_pBar = dynamic_cast<CProgressBar*>(GetDlgItem(1005));
    if (m_pBar != nullptr) {
      EXPECT_EQ(m_pBar, CWnd::FromHandlePermanent(m_hBar));
      EXPECT_EQ(0, m_pBar->GetPos());
      m_pBar->SetPos(40, FALSE);
      EXPECT_EQ(reinterpret_cast<LONG_PTR>(AfxWndProc), ::GetWindowLongPtrA(m_hBar, GWLP_WNDPROC));
    }
    g_pWatched = m_pBar;
    g_bWatchedDeleted = false;
    EndDialog(IDOK);
    return TRUE;
  }
};

TEST(ProgressBarLifetime, TemplateControlGoesWithItsDialog) {
  ASSERT_TRUE(RegisterProgressBarClass());
  BarDlg dlg;
  EXPECT_EQ(IDOK, dlg.DoModal());
  ASSERT_NE(nullptr, dlg.m_pBar);
  EXPECT_TRUE(g_bWatchedDeleted);
  EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(dlg.m_hBar));
  g_pWatched = nullptr;
}

TEST(ProgressBarLifetime, CreatedControlStaysTheCallers) {
  Host host;
  CProgressBar* pBar = new CProgressBar;
  RECT rect = {0, 0, kWidth, kHeight};
  ASSERT_TRUE(pBar->Create("User1", WS_CHILD | WS_VISIBLE, rect, host.wnd(), 7));
  char szClass[32];
  ::GetClassNameA(pBar->m_hWnd, szClass, sizeof szClass);
  EXPECT_STRNE("ProgressBar", szClass);
  g_pWatched = pBar;
  g_bWatchedDeleted = false;
  EXPECT_TRUE(pBar->DestroyWindow());
  EXPECT_FALSE(g_bWatchedDeleted);
  EXPECT_EQ(NULL, pBar->m_hWnd);
  delete pBar;
  EXPECT_TRUE(g_bWatchedDeleted);
  g_pWatched = nullptr;
}

}  // namespace
