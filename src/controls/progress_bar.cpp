#include "controls/progress_bar.h"

#include "framework/text.h"
#include "framework/winapp.h"

const char kProgressBarClassName[] = "ProgressBar";

BOOL RegisterProgressBarClass() {
  WNDCLASSA wc;
  wc.style = 0;
  wc.lpfnWndProc = ProgressBarWndProc;
  wc.cbClsExtra = 0;
  wc.cbWndExtra = 0;
  wc.hInstance = AfxGetInstanceHandle();
  wc.hIcon = NULL;
  wc.hCursor = NULL;
  wc.hbrBackground = NULL;
  wc.lpszMenuName = NULL;
  wc.lpszClassName = NULL;
  WNDCLASSA found;
  if (::GetClassInfoA(wc.hInstance, kProgressBarClassName, &found)) {
    return found.lpfnWndProc == ProgressBarWndProc;
  }
  wc.lpszClassName = kProgressBarClassName;
  return ::RegisterClassA(&wc) != 0;
}

LRESULT CALLBACK ProgressBarWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CProgressBar* pBar = NULL;
  try {
    pBar = new CProgressBar;
    if (!pBar->AttachToClassWindow(hWnd)) {
      delete pBar;
      pBar = NULL;
    }
  } catch (...) {
    delete pBar;
    pBar = NULL;
  }
  if (pBar == NULL) {
    // Without an object there is no control: the creation fails (an
    // allocation failure must not run through the system's code).
    if (message == WM_NCCREATE) return FALSE;
    if (message == WM_CREATE) return -1;
    return ::DefWindowProcA(hWnd, message, wParam, lParam);
  }
  pBar->m_bAutoDelete = TRUE;
  return AfxWndProc(hWnd, message, wParam, lParam);
}

// --- CProgressBase

void CProgressBase::DrawFrame(CDC* pDC, RECT* pRect) {
  CPen penWhite(PS_SOLID, 0, RGB(255, 255, 255));
  CPen penGrey(PS_SOLID, 0, RGB(128, 128, 128));
  const LONG l = pRect->left;
  const LONG t = pRect->top;
  const LONG r = pRect->right;
  const LONG b = pRect->bottom;

  // The pens are selected while this guard holds the context's own pen.
  CSelectGuard pen(*pDC, penGrey);
  pDC->MoveTo(l, b - 1);
  pDC->LineTo(l, t);
  pDC->LineTo(r, t);

  pDC->SelectObject(&penWhite);
  pDC->MoveTo(l + 1, b - 1);
  pDC->LineTo(r - 1, b - 1);
  pDC->LineTo(r - 1, t);

  ::InflateRect(pRect, -1, -1);
  pDC->SelectStockObject(BLACK_PEN);
  {
    CSelectGuard brush(*pDC, ::GetStockObject(NULL_BRUSH));
    pDC->Rectangle(pRect);
  }

  ::InflateRect(pRect, -1, -1);
}

void CProgressBase::SetPos(UINT nPos, BOOL bAnimate) {
  if (nPos > 100) nPos = 100;
  const int nTarget = static_cast<int>(nPos);
  if (bAnimate) {
    const int nStart = m_nPos;
    if (nTarget > nStart) {
      for (int i = nStart; i < nTarget; ++i) ShowPos(i);
    } else if (nTarget < nStart) {
      for (int i = nStart; i > nTarget; --i) ShowPos(i);
    }
  }
  ShowPos(nTarget);
}

void CProgressBase::ShowPos(int nPos) {
  // The drawing relies on 0..100: a larger value would paint over the frame.
  m_nPos = nPos < 0 ? 0 : (nPos > 100 ? 100 : nPos);
  InvalidateRect(NULL, FALSE);
  UpdateWindow();
}

// --- CProgressBar

BEGIN_MESSAGE_MAP(CProgressBar, CWnd)
  ON_WM_PAINT()
  ON_WM_LBUTTONDOWN()
END_MESSAGE_MAP()

CProgressBar::CProgressBar()
    : m_crBackground(RGB(255, 255, 255)), m_crBar(RGB(0, 0, 255)), m_bAutoDelete(FALSE) {}

CProgressBar::~CProgressBar() {}

BOOL CProgressBar::Create(LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                          CWnd* pParentWnd, UINT nID) {
  return CWnd::Create(NULL, lpszWindowName, dwStyle, rect, pParentWnd, nID, NULL);
}

void CProgressBar::DrawBar(CDC* pDC) {
  RECT r;
  GetClientRect(&r);
  DrawFrame(pDC, &r);

  const LONG x = r.left + (r.right - r.left) * m_nPos / 100;
  const RECT filled = {r.left, r.top, x, r.bottom};
  const RECT empty = {x, r.top, r.right, r.bottom};

  CString strText;
  FormatString(strText, "%d%%", m_nPos);
  const UINT nLength = static_cast<UINT>(strText.GetLength());
  const SIZE size = pDC->GetTextExtent(strText, static_cast<int>(nLength));
  const int tx = r.left + (r.right - r.left - size.cx) / 2;
  const int ty = r.top + (r.bottom - r.top - size.cy) / 2;

  pDC->SetBkColor(m_crBar);
  pDC->SetTextColor(m_crBackground);
  pDC->ExtTextOut(tx, ty, ETO_OPAQUE | ETO_CLIPPED, &filled, strText, nLength, NULL);
  pDC->SetBkColor(m_crBackground);
  pDC->SetTextColor(m_crBar);
  pDC->ExtTextOut(tx, ty, ETO_OPAQUE | ETO_CLIPPED, &empty, strText, nLength, NULL);
}

void CProgressBar::PostNcDestroy() {
  if (m_bAutoDelete) delete this;
}

void CProgressBar::OnPaint() {
  CPaintDC dc(this);
  DrawBar(&dc);
}

void CProgressBar::OnLButtonDown(UINT nFlags, CPoint point) {
  ::MessageBeep(0);
  CWnd::OnLButtonDown(nFlags, point);
}
