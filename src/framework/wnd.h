// CWnd: a window object over a window handle.
//
// An object is attached to a window handle either permanently (Attach, or by
// creating or subclassing the window through the framework) or as a
// temporary wrapper that FromHandle makes for a window no object owns.
// Permanent objects are found through the permanent handle-to-object map;
// their windows run the framework's common window procedure AfxWndProc,
// which looks the object up and dispatches through its message map
// (OnWndMsg). What the map does not handle goes to DefWindowProc: the
// window's previous procedure when the framework subclassed it, otherwise
// DefWindowProcA. No exception ever leaves the common window procedure.
//
// After a permanent window's last message (WM_NCDESTROY) the framework
// clears the application's main-window registration if it names the
// object, detaches the object and calls its PostNcDestroy.
#ifndef QUENLAT_FRAMEWORK_WND_H
#define QUENLAT_FRAMEWORK_WND_H

#include <windows.h>

#include "framework/msgmap.h"
#include "framework/text.h"

class CDC;
struct CCreateContext;

// The framework's common window procedure.
LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

class CWnd : public CCmdTarget {
 public:
  CWnd();
  // A window still attached is destroyed first.
  ~CWnd() override;

  HWND m_hWnd;
  operator HWND() const { return m_hWnd; }
  HWND GetSafeHwnd() const { return m_hWnd; }

  // --- Handle and object.

  // The permanent object of hWnd, or NULL.
  static CWnd* FromHandlePermanent(HWND hWnd);
  // The permanent object of hWnd or else a temporary wrapper of it, which
  // the framework deletes after the window is gone; NULL for a NULL hWnd.
  static CWnd* FromHandle(HWND hWnd);
  // Puts the pair into the permanent map. FALSE when hWnd is NULL, the
  // object already has a window, or hWnd already has an object.
  BOOL Attach(HWND hWnd);
  // Removes the object from the permanent map and returns its handle.
  HWND Detach();
  // Attaches and routes the window's messages through AfxWndProc, keeping
  // its previous procedure for default processing.
  BOOL SubclassWindow(HWND hWnd);
  // SubclassWindow on the child with ID nID of pParent.
  BOOL SubclassDlgItem(UINT nID, CWnd* pParent);
  // For the window procedure of a registered class that gives each new
  // window its object on its first message: attaches this object to hWnd
  // and routes the window's messages through AfxWndProc from then on, with
  // DefWindowProcA for default processing. The caller then passes the
  // message on to AfxWndProc. FALSE, with nothing changed, when Attach
  // refuses the pair.
  BOOL AttachToClassWindow(HWND hWnd);

  // --- Creation.

  // Creates a window attached to this object from its first message on.
  // A NULL class name means the framework's default class, "QuenlatWnd"
  // (no class styles, arrow cursor, no background brush). A non-NULL
  // pParentWnd makes a child with ID nID. pContext is unused.
  virtual BOOL Create(LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle,
                      const RECT& rect, CWnd* pParentWnd, UINT nID,
                      CCreateContext* pContext = NULL);
  BOOL CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName,
                DWORD dwStyle, int x, int y, int nWidth, int nHeight,
                HWND hWndParent, HMENU nIDorHMenu, LPVOID lpParam = NULL);
  virtual BOOL DestroyWindow();

  // --- Message handling.

  // Handles one message: OnWndMsg, else DefWindowProc.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // The dispatcher: walks the class's message map and then its bases';
  // TRUE with *pResult set when an entry handled the message.
  virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
  // Default processing: the previous window procedure, else DefWindowProcA.
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // Default processing of the message being handled now.
  LRESULT Default();
  // Offered each message of the application's message pump for this window
  // or its children before it is dispatched; TRUE when it has been handled.
  virtual BOOL PreTranslateMessage(MSG* pMsg);
  // Called on a child control's object for a notification its parent got
  // (WM_DRAWITEM); TRUE with *pResult set when the control handled it.
  virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
  // Called after the window's last message, once the object is detached.
  virtual void PostNcDestroy();

  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

  // --- Wrappers.

  void SetWindowText(LPCSTR lpszString);
  void GetWindowText(CString& rString) const;
  CString GetWindowText() const;
  BOOL EnableWindow(BOOL bEnable = TRUE);
  BOOL IsWindowEnabled() const;
  BOOL IsWindowVisible() const;
  BOOL IsIconic() const;
  BOOL ShowWindow(int nCmdShow);
  // The window that had the focus before, or NULL.
  CWnd* SetFocus();
  static CWnd* GetFocus();
  void Invalidate(BOOL bErase = TRUE);
  void InvalidateRect(const RECT* lpRect, BOOL bErase = TRUE);
  void UpdateWindow();
  void GetClientRect(LPRECT lpRect) const;
  void GetWindowRect(LPRECT lpRect) const;
  BOOL SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags);
  DWORD GetStyle() const;
  CWnd* GetParent() const;
  int GetDlgCtrlID() const;
  // Centres the window: a child in its parent's client area; otherwise over
  // pAlternateOwner, or else over its owner when that is visible and not
  // minimised, or else on the work area; then moved inside the work area.
  void CenterWindow(CWnd* pAlternateOwner = NULL);
  static CWnd* GetDesktopWindow();
  HICON SetIcon(HICON hIcon, BOOL bBigIcon);
  void DragAcceptFiles(BOOL bAccept = TRUE);

  // A message box owned by this window (see AfxShowMessageBox); a NULL
  // caption means the application's name.
  int MessageBox(LPCSTR lpszText, LPCSTR lpszCaption = NULL, UINT nType = MB_OK);

  // --- Children.

  // The child with ID nID (its permanent object or a temporary), or NULL.
  CWnd* GetDlgItem(int nID) const;
  void SetDlgItemText(int nID, LPCSTR lpszString);
  int GetDlgItemText(int nID, CString& rString) const;
  LRESULT SendDlgItemMessage(int nID, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  void CheckDlgButton(int nIDButton, UINT nCheck);
  UINT IsDlgButtonChecked(int nIDButton) const;

  // --- Default handlers for the ON_WM_ macros: each gives the message its
  // default processing.
  void OnPaint();
  void OnClose();
  void OnLButtonDown(UINT nFlags, CPoint point);
  BOOL OnEraseBkgnd(CDC* pDC);
  HCURSOR OnQueryDragIcon();
  void OnDropFiles(HDROP hDropInfo);
  void OnEndSession(BOOL bEnding);
  void OnSysCommand(UINT nID, LPARAM lParam);

 protected:
  // The previous window procedure of a subclassed window, or NULL.
  WNDPROC m_pfnSuper;

  // WM_DRAWITEM: offered to the control's object (OnChildNotify) first.
  LRESULT OnDrawItemMsg(WPARAM wParam, LPARAM lParam);

  DECLARE_MESSAGE_MAP()

 private:
  friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);
  friend class CWindowCreationHook;
  BOOL DispatchEntry(const MessageMapEntry* pEntry, WPARAM wParam, LPARAM lParam,
                     LRESULT* pResult);
};

// Deletes the temporary wrappers of windows that no longer exist.
void AfxPurgeTemporaryWindows();

// The framework's side of creating a window it cannot hand its object to:
// while this lives, the first window of lpszClass (any class when NULL or an
// atom) made on this thread is attached to pWnd and subclassed before its
// first message. Hooks nest; the innermost one waiting is served first.
class CWindowCreationHook {
 public:
  CWindowCreationHook(CWnd* pWnd, LPCSTR lpszClass);
  ~CWindowCreationHook();
  CWindowCreationHook(const CWindowCreationHook&) = delete;
  CWindowCreationHook& operator=(const CWindowCreationHook&) = delete;

 private:
  static LRESULT CALLBACK CbtProc(int nCode, WPARAM wParam, LPARAM lParam);
  static thread_local CWindowCreationHook* t_pInnermost;

  CWnd* m_pWnd;  // NULL once served
  bool m_bClassKnown;
  CString m_strClass;
  HHOOK m_hHook;
  CWindowCreationHook* m_pOuter;
};

// A message box owned by hWndOwner (may be NULL), in the application's
// dialog colours when they are set, like every dialog of the program.
// Returns MessageBoxA's result.
int AfxShowMessageBox(HWND hWndOwner, LPCSTR lpszText, LPCSTR lpszCaption, UINT nType);

#endif
