#include "controls/icon_button.h"

#include "framework/gdi.h"
#include "framework/winapp.h"
#include "resources/drop_about.h"

BEGIN_MESSAGE_MAP(CIconButton, CButton)
  ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

void CIconButton::SizeToIcon() {
  int cx = 2 * ::GetSystemMetrics(SM_CXICON) + 8;
  int cy = 2 * ::GetSystemMetrics(SM_CYICON) + 8;
  SetWindowPos(NULL, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CIconButton::OnEraseBkgnd(CDC*) { return TRUE; }

void CIconButton::DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct) {
  RECT rc;
  GetClientRect(&rc);
  const int w = rc.right - rc.left;
  const int h = rc.bottom - rc.top;
  HICON hIcon = ::LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(IDI_APPLICATION_ICON));
  if (hIcon == NULL) return;
  const int cx = ::GetSystemMetrics(SM_CXICON);
  const int cy = ::GetSystemMetrics(SM_CYICON);

  CDCHandle dc(lpDrawItemStruct->hDC);
  CBitmap bitmap;
  CDC memDC;
  if (!bitmap.CreateCompatibleBitmap(&dc, cx, cy) || !memDC.CreateCompatibleDC(&dc)) return;
  CSelectGuard selectBitmap(memDC, bitmap);
  if (!selectBitmap.Selected()) return;
  // What the frame encloses, shrunk to icon size, becomes the icon's
  // background; drawn back at twice the size it is what was there, so
  // every drawing gives the same pixels.
  memDC.StretchBlt(0, 0, cx, cy, &dc, 2, 2, w - 8, h - 8, SRCCOPY);
  memDC.DrawIcon(0, 0, hIcon);

  {
    CSelectGuard pen(dc, ::GetStockObject(BLACK_PEN));
    dc.Rectangle(0, 0, w - 4, h - 4);
  }

  HBRUSH hShadow = static_cast<HBRUSH>(::GetStockObject(DKGRAY_BRUSH));
  RECT rcRight = {w - 4, 4, w, h};
  RECT rcBottom = {4, h - 4, w, h};
  dc.FillRect(&rcRight, hShadow);
  dc.FillRect(&rcBottom, hShadow);

  dc.StretchBlt(2, 2, w - 8, h - 8, &memDC, 0, 0, cx, cy, SRCCOPY);
}
