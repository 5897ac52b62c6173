// Drawing: device contexts and owning wrappers of pens, brushes and bitmaps.
// Each wrapper deletes the object it holds in its destructor; select it
// into a device context through a CSelectGuard declared after it, which
// selects the previous object back before the wrapper goes.
#ifndef QUENLAT_FRAMEWORK_GDI_H
#define QUENLAT_FRAMEWORK_GDI_H

#include <windows.h>

#include "framework/object.h"

class CWnd;
class CDC;

// A drawing object handle, deleted by the destructor.
class CGdiObject : public CObject {
 public:
  CGdiObject() : m_hObject(NULL) {}
  ~CGdiObject() override { DeleteObject(); }

  HGDIOBJ m_hObject;
  HGDIOBJ GetSafeHandle() const { return m_hObject; }
  // Takes ownership of hObject; FALSE when one is held already.
  BOOL Attach(HGDIOBJ hObject);
  // Gives up ownership and returns the handle.
  HGDIOBJ Detach();
  // Deletes the held object, if any.
  BOOL DeleteObject();
};

class CPen : public CGdiObject {
 public:
  CPen() {}
  // Creates the pen at once (see CreatePen).
  CPen(int nPenStyle, int nWidth, COLORREF crColor);
  BOOL CreatePen(int nPenStyle, int nWidth, COLORREF crColor);
  operator HPEN() const { return static_cast<HPEN>(m_hObject); }
};

class CBrush : public CGdiObject {
 public:
  CBrush() {}
  // Creates a solid brush at once.
  explicit CBrush(COLORREF crColor);
  BOOL CreateSolidBrush(COLORREF crColor);
  operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
};

class CBitmap : public CGdiObject {
 public:
  CBitmap() {}
  BOOL CreateCompatibleBitmap(CDC* pDC, int nWidth, int nHeight);
  operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
};

// A device context. One created by CreateCompatibleDC, or given with Attach,
// belongs to the object and is deleted (DeleteDC) by the destructor; call
// Detach first for a context that belongs to somebody else.
class CDC : public CObject {
 public:
  CDC() : m_hDC(NULL) {}
  ~CDC() override;

  HDC m_hDC;
  operator HDC() const { return m_hDC; }
  HDC GetSafeHdc() const { return m_hDC; }
  BOOL Attach(HDC hDC);
  HDC Detach();
  // A memory context compatible with pDC (NULL: with the screen).
  BOOL CreateCompatibleDC(CDC* pDC);
  BOOL DeleteDC();

  // Each returns the object that was selected before.
  HPEN SelectObject(CPen* pPen);
  HBRUSH SelectObject(CBrush* pBrush);
  HBITMAP SelectObject(CBitmap* pBitmap);
  HGDIOBJ SelectObject(HGDIOBJ hObject);
  HGDIOBJ SelectStockObject(int nIndex);

  POINT MoveTo(int x, int y);
  BOOL LineTo(int x, int y);
  BOOL Rectangle(int x1, int y1, int x2, int y2);
  BOOL Rectangle(const RECT* lpRect);
  void FillRect(const RECT* lpRect, HBRUSH hBrush);
  COLORREF SetBkColor(COLORREF crColor);
  COLORREF SetTextColor(COLORREF crColor);
  int SetBkMode(int nBkMode);
  BOOL ExtTextOut(int x, int y, UINT nOptions, const RECT* lpRect, LPCSTR lpszString,
                  UINT nCount, const INT* lpDxWidths);
  BOOL TextOut(int x, int y, LPCSTR lpszString, int nCount);
  SIZE GetTextExtent(LPCSTR lpszString, int nCount) const;
  BOOL DrawIcon(int x, int y, HICON hIcon);
  BOOL BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc,
              DWORD dwRop);
  BOOL StretchBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc,
                  int nSrcWidth, int nSrcHeight, DWORD dwRop);
  COLORREF GetPixel(int x, int y) const;
};

// Selects a drawing object into a device context for the guard's scope: the
// object selected before goes back in when the guard goes, before the
// object itself can be deleted. Declare the guard after the object.
class CSelectGuard {
 public:
  CSelectGuard(CDC& dc, HGDIOBJ hObject) : m_dc(dc), m_hOld(dc.SelectObject(hObject)) {}
  ~CSelectGuard() {
    if (m_hOld != NULL) m_dc.SelectObject(m_hOld);
  }
  CSelectGuard(const CSelectGuard&) = delete;
  CSelectGuard& operator=(const CSelectGuard&) = delete;

  // FALSE when the object could not be selected (nothing is put back then).
  BOOL Selected() const { return m_hOld != NULL; }

 private:
  CDC& m_dc;
  HGDIOBJ m_hOld;
};

// A device context that belongs to somebody else (the one of a WM_DRAWITEM
// request, say): used through the CDC members, never deleted.
class CDCHandle : public CDC {
 public:
  explicit CDCHandle(HDC hDC) { Attach(hDC); }
  ~CDCHandle() override { Detach(); }
};

// The paint context of a window: BeginPaint in the constructor, EndPaint in
// the destructor. Use it only while handling WM_PAINT.
class CPaintDC : public CDC {
 public:
  explicit CPaintDC(CWnd* pWnd);
  ~CPaintDC() override;

  PAINTSTRUCT m_ps;

 private:
  HWND m_hWnd;
};

#endif
