// The progress bar control: a percentage bar in a sunken frame with the
// percentage written in its middle, white on the filled part and blue on the
// empty part, split exactly where the fill ends.
//
// Dialog templates place it by its window class name, "ProgressBar";
// RegisterProgressBarClass must have run before such a dialog is created.
// The class's window procedure only bootstraps each new window: it makes a
// CProgressBar, attaches it to the window and hands the window over to the
// framework's common window procedure. That object belongs to its window and
// is deleted after the window's last message; a dialog finds it with
// GetDlgItem and may keep the pointer while the dialog exists.
//
// The control never notifies its parent and takes no keyboard input; a left
// click beeps. It paints every pixel of its client area itself and never
// erases, so it does not flicker.
#ifndef QUENLAT_CONTROLS_PROGRESS_BAR_H
#define QUENLAT_CONTROLS_PROGRESS_BAR_H

#include <windows.h>

#include "framework/gdi.h"
#include "framework/wnd.h"

// The window class name.
extern const char kProgressBarClassName[];  // "ProgressBar"

// Registers the "ProgressBar" class for the application's instance unless it
// is registered already; safe to call any number of times. TRUE when the
// class is there with ProgressBarWndProc; FALSE when another window
// procedure owns the name or registration fails. Never unregistered.
BOOL RegisterProgressBarClass();

// The class's window procedure: runs for the first message of each new
// window only.
LRESULT CALLBACK ProgressBarWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// The position and the frame.
class CProgressBase : public CWnd {
 public:
  CProgressBase() : m_nPos(0) {}

  using CWnd::Create;
  // Creates the window for this object as a child of pParentWnd.
  virtual BOOL Create(LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                      CWnd* pParentWnd, UINT nID) = 0;
  // Draws the frame inside *pRect (right and bottom exclusive): a one-pixel
  // sunken edge (dark grey left column and top row, white bottom row and
  // right column), then a one-pixel black outline inside it. *pRect becomes
  // the area inside the frame, two pixels smaller on every side.
  virtual void DrawFrame(CDC* pDC, RECT* pRect);

  // Shows nPos percent at once; values above 100 (as unsigned numbers, so
  // also every negative one) show 100. With bAnimate, first steps from the
  // current position toward nPos one unit at a time, painting each step,
  // starting with the current position itself.
  void SetPos(UINT nPos, BOOL bAnimate);
  // Stores nPos (kept within 0..100) and repaints before returning.
  void ShowPos(int nPos);
  // The position shown, 0..100.
  int GetPos() const { return m_nPos; }

 protected:
  int m_nPos;
};

class CProgressBar : public CProgressBase {
 public:
  // Position 0, white and blue, not deleted with its window.
  CProgressBar();
  ~CProgressBar() override;

  using CProgressBase::Create;
  // Creates a child window of the framework's default window class (not
  // "ProgressBar") for this object; the object stays the caller's to delete.
  BOOL Create(LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd,
              UINT nID) override;
  // Paints the whole control: the frame, then the two parts with the
  // percentage text ("%d%%") centred in the inner area, in the device
  // context's current font.
  virtual void DrawBar(CDC* pDC);

 protected:
  COLORREF m_crBackground;  // the empty part; the text over the filled part
  COLORREF m_crBar;         // the filled part; the text over the empty part
  BOOL m_bAutoDelete;       // the object belongs to its window

  // Deletes the object when it belongs to its window.
  void PostNcDestroy() override;
  void OnPaint();
  void OnLButtonDown(UINT nFlags, CPoint point);

  DECLARE_MESSAGE_MAP()

  friend LRESULT CALLBACK ProgressBarWndProc(HWND, UINT, WPARAM, LPARAM);
};

#endif
