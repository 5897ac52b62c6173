#include "framework/gdi.h"

#include "framework/wnd.h"

BOOL CGdiObject::Attach(HGDIOBJ hObject) {
  if (m_hObject != NULL || hObject == NULL) return FALSE;
  m_hObject = hObject;
  return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
  HGDIOBJ hObject = m_hObject;
  m_hObject = NULL;
  return hObject;
}

BOOL CGdiObject::DeleteObject() {
  if (m_hObject == NULL) return FALSE;
  BOOL bResult = ::DeleteObject(m_hObject);
  m_hObject = NULL;
  return bResult;
}

CPen::CPen(int nPenStyle, int nWidth, COLORREF crColor) { CreatePen(nPenStyle, nWidth, crColor); }

BOOL CPen::CreatePen(int nPenStyle, int nWidth, COLORREF crColor) {
  return Attach(::CreatePen(nPenStyle, nWidth, crColor));
}

CBrush::CBrush(COLORREF crColor) { CreateSolidBrush(crColor); }

BOOL CBrush::CreateSolidBrush(COLORREF crColor) { return Attach(::CreateSolidBrush(crColor)); }

BOOL CBitmap::CreateCompatibleBitmap(CDC* pDC, int nWidth, int nHeight) {
  return Attach(::CreateCompatibleBitmap(pDC->m_hDC, nWidth, nHeight));
}

CDC::~CDC() { DeleteDC(); }

BOOL CDC::Attach(HDC hDC) {
  if (m_hDC != NULL || hDC == NULL) return FALSE;
  m_hDC = hDC;
  return TRUE;
}

HDC CDC::Detach() {
  HDC hDC = m_hDC;
  m_hDC = NULL;
  return hDC;
}

BOOL CDC::CreateCompatibleDC(CDC* pDC) {
  return Attach(::CreateCompatibleDC(pDC != NULL ? pDC->m_hDC : NULL));
}

BOOL CDC::DeleteDC() {
  if (m_hDC == NULL) return FALSE;
  BOOL bResult = ::DeleteDC(m_hDC);
  m_hDC = NULL;
  return bResult;
}

HPEN CDC::SelectObject(CPen* pPen) {
  return static_cast<HPEN>(::SelectObject(m_hDC, pPen->m_hObject));
}

HBRUSH CDC::SelectObject(CBrush* pBrush) {
  return static_cast<HBRUSH>(::SelectObject(m_hDC, pBrush->m_hObject));
}

HBITMAP CDC::SelectObject(CBitmap* pBitmap) {
  return static_cast<HBITMAP>(::SelectObject(m_hDC, pBitmap->m_hObject));
}

HGDIOBJ CDC::SelectObject(HGDIOBJ hObject) { return ::SelectObject(m_hDC, hObject); }

HGDIOBJ CDC::SelectStockObject(int nIndex) {
  return ::SelectObject(m_hDC, ::GetStockObject(nIndex));
}

POINT CDC::MoveTo(int x, int y) {
  POINT previous = {0, 0};
  ::MoveToEx(m_hDC, x, y, &previous);
  return previous;
}

BOOL CDC::LineTo(int x, int y) { return ::LineTo(m_hDC, x, y); }

BOOL CDC::Rectangle(int x1, int y1, int x2, int y2) { return ::Rectangle(m_hDC, x1, y1, x2, y2); }

BOOL CDC::Rectangle(const RECT* lpRect) {
  return ::Rectangle(m_hDC, lpRect->left, lpRect->top, lpRect->right, lpRect->bottom);
}

void CDC::FillRect(const RECT* lpRect, HBRUSH hBrush) { ::FillRect(m_hDC, lpRect, hBrush); }

COLORREF CDC::SetBkColor(COLORREF crColor) { return ::SetBkColor(m_hDC, crColor); }

COLORREF CDC::SetTextColor(COLORREF crColor) { return ::SetTextColor(m_hDC, crColor); }

int CDC::SetBkMode(int nBkMode) { return ::SetBkMode(m_hDC, nBkMode); }

BOOL CDC::ExtTextOut(int x, int y, UINT nOptions, const RECT* lpRect, LPCSTR lpszString,
                     UINT nCount, const INT* lpDxWidths) {
  return ::ExtTextOutA(m_hDC, x, y, nOptions, lpRect, lpszString, nCount, lpDxWidths);
}

BOOL CDC::TextOut(int x, int y, LPCSTR lpszString, int nCount) {
  return ::TextOutA(m_hDC, x, y, lpszString, nCount);
}

SIZE CDC::GetTextExtent(LPCSTR lpszString, int nCount) const {
  SIZE size = {0, 0};
  ::GetTextExtentPointA(m_hDC, lpszString, nCount, &size);
  return size;
}

BOOL CDC::DrawIcon(int x, int y, HICON hIcon) { return ::DrawIcon(m_hDC, x, y, hIcon); }

BOOL CDC::BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc,
                 DWORD dwRop) {
  return ::BitBlt(m_hDC, x, y, nWidth, nHeight, pSrcDC != NULL ? pSrcDC->m_hDC : NULL, xSrc, ySrc,
                  dwRop);
}

BOOL CDC::StretchBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc,
                     int nSrcWidth, int nSrcHeight, DWORD dwRop) {
  return ::StretchBlt(m_hDC, x, y, nWidth, nHeight, pSrcDC != NULL ? pSrcDC->m_hDC : NULL, xSrc,
                      ySrc, nSrcWidth, nSrcHeight, dwRop);
}

COLORREF CDC::GetPixel(int x, int y) const { return ::GetPixel(m_hDC, x, y); }

CPaintDC::CPaintDC(CWnd* pWnd) : m_hWnd(pWnd->m_hWnd) { Attach(::BeginPaint(m_hWnd, &m_ps)); }

CPaintDC::~CPaintDC() {
  Detach();
  ::EndPaint(m_hWnd, &m_ps);
}
