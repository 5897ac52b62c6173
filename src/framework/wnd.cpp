#include "framework/wnd.h"

#include <exception>
#include <unordered_map>

#include "framework/gdi.h"
#include "framework/winapp.h"

namespace {

std::unordered_map<HWND, CWnd*>& PermanentMap() {
  static std::unordered_map<HWND, CWnd*> map;
  return map;
}

std::unordered_map<HWND, CWnd*>& TemporaryMap() {
  static std::unordered_map<HWND, CWnd*> map;
  return map;
}

// The message being handled, for Default(); saved and restored around each
// call of the common window procedure, since handlers nest.
struct CurrentMessage {
  HWND hWnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
CurrentMessage g_current = {NULL, 0, 0, 0};

const char kDefaultClassName[] = "QuenlatWnd";

LPCSTR RegisterDefaultClass() {
  HINSTANCE hInstance = AfxGetInstanceHandle();
  WNDCLASSA wc;
  if (!::GetClassInfoA(hInstance, kDefaultClassName, &wc)) {
    wc.style = 0;
    wc.lpfnWndProc = ::DefWindowProcA;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = hInstance;
    wc.hIcon = NULL;
    wc.hCursor = ::LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = NULL;
    wc.lpszMenuName = NULL;
    wc.lpszClassName = kDefaultClassName;
    ::RegisterClassA(&wc);
  }
  return kDefaultClassName;
}

// Routes hWnd's messages through the common procedure; returns the
// procedure it had, or NULL when it had the common one already.
WNDPROC RouteToCommonProc(HWND hWnd) {
  WNDPROC old = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(AfxWndProc)));
  return old == AfxWndProc ? NULL : old;
}

}  // namespace

BOOL CWnd::AttachToClassWindow(HWND hWnd) {
  if (!Attach(hWnd)) return FALSE;
  // The class's procedure only hands the window over: it is no procedure to
  // fall back on.
  m_pfnSuper = NULL;
  RouteToCommonProc(hWnd);
  return TRUE;
}

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* pWnd = CWnd::FromHandlePermanent(hWnd);
  if (pWnd == NULL) return ::DefWindowProcA(hWnd, message, wParam, lParam);

  CurrentMessage saved = g_current;
  g_current = {hWnd, message, wParam, lParam};
  LRESULT result = 0;
  try {
    result = pWnd->WindowProc(message, wParam, lParam);
  } catch (...) {
    // An exception must not unwind through the system's code; the message
    // counts as handled with the result 0.
    result = 0;
  }
  if (message == WM_NCDESTROY) {
    CWinApp* pApp = AfxGetApp();
    if (pApp != NULL && pApp->m_pMainWnd == pWnd) pApp->m_pMainWnd = NULL;
    if (CWnd::FromHandlePermanent(hWnd) == pWnd) {
      if (pWnd->m_pfnSuper != NULL &&
          ::GetWindowLongPtrA(hWnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(AfxWndProc)) {
        ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pWnd->m_pfnSuper));
      }
      pWnd->m_pfnSuper = NULL;
      pWnd->Detach();
    }
    try {
      pWnd->PostNcDestroy();  // may delete the object
    } catch (...) {
    }
  }
  g_current = saved;
  return result;
}

// --- CWindowCreationHook

thread_local CWindowCreationHook* CWindowCreationHook::t_pInnermost = NULL;

CWindowCreationHook::CWindowCreationHook(CWnd* pWnd, LPCSTR lpszClass)
    : m_pWnd(pWnd),
      m_bClassKnown(lpszClass != NULL && !IS_INTRESOURCE(lpszClass)),
      m_strClass(m_bClassKnown ? lpszClass : ""),
      m_hHook(::SetWindowsHookExA(WH_CBT, CbtProc, NULL, ::GetCurrentThreadId())),
      m_pOuter(t_pInnermost) {
  t_pInnermost = this;
}

CWindowCreationHook::~CWindowCreationHook() {
  if (m_hHook != NULL) ::UnhookWindowsHookEx(m_hHook);
  t_pInnermost = m_pOuter;
}

LRESULT CALLBACK CWindowCreationHook::CbtProc(int nCode, WPARAM wParam, LPARAM lParam) {
  // Only the innermost waiting hook can be the one this window is for: an
  // outer one's window was made before the code that set the inner one ran.
  CWindowCreationHook* pHook = t_pInnermost;
  while (pHook != NULL && pHook->m_pWnd == NULL) pHook = pHook->m_pOuter;
  if (nCode != HCBT_CREATEWND || pHook == NULL) return ::CallNextHookEx(NULL, nCode, wParam, lParam);

  HWND hWnd = reinterpret_cast<HWND>(wParam);
  if (pHook->m_bClassKnown) {
    char szClass[256];
    if (::GetClassNameA(hWnd, szClass, sizeof szClass) == 0 ||
        ::lstrcmpiA(szClass, pHook->m_strClass) != 0) {
      return ::CallNextHookEx(NULL, nCode, wParam, lParam);
    }
  }
  CWnd* pWnd = pHook->m_pWnd;
  pHook->m_pWnd = NULL;
  try {
    if (pWnd->Attach(hWnd)) pWnd->m_pfnSuper = RouteToCommonProc(hWnd);
  } catch (...) {
    // Out of memory: the window stays without its object, which the
    // creating code notices.
  }
  LRESULT result = ::CallNextHookEx(NULL, nCode, wParam, lParam);
  // Served: the windows made while this one lives are none of its business.
  if (pHook->m_hHook != NULL) {
    ::UnhookWindowsHookEx(pHook->m_hHook);
    pHook->m_hHook = NULL;
  }
  return result;
}

void AfxPurgeTemporaryWindows() {
  auto& map = TemporaryMap();
  for (auto it = map.begin(); it != map.end();) {
    if (!::IsWindow(it->first)) {
      delete it->second;
      it = map.erase(it);
    } else {
      ++it;
    }
  }
}

// --- CCmdTarget

const MessageMap* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

const MessageMap* CCmdTarget::GetThisMessageMap() {
  static const MessageMapEntry entries[] = {{0, 0, 0, MessageHandler()}};
  static const MessageMap messageMap = {nullptr, &entries[0]};
  return &messageMap;
}

// --- CWnd

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
  ON_MESSAGE(WM_DRAWITEM, &CWnd::OnDrawItemMsg)
END_MESSAGE_MAP()

CWnd::CWnd() : m_hWnd(NULL), m_pfnSuper(NULL) {}

CWnd::~CWnd() {
  if (m_hWnd != NULL && FromHandlePermanent(m_hWnd) == this) {
    HWND hWnd = m_hWnd;
    if (::IsWindow(hWnd)) ::DestroyWindow(hWnd);
    if (m_hWnd == hWnd) Detach();
  }
  m_hWnd = NULL;
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
  if (hWnd == NULL) return NULL;
  auto& map = PermanentMap();
  auto it = map.find(hWnd);
  return it == map.end() ? NULL : it->second;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
  if (hWnd == NULL) return NULL;
  CWnd* pWnd = FromHandlePermanent(hWnd);
  if (pWnd != NULL) return pWnd;
  auto& map = TemporaryMap();
  auto it = map.find(hWnd);
  if (it != map.end()) return it->second;
  pWnd = new CWnd;
  pWnd->m_hWnd = hWnd;
  map[hWnd] = pWnd;
  return pWnd;
}

BOOL CWnd::Attach(HWND hWnd) {
  if (hWnd == NULL || m_hWnd != NULL) return FALSE;
  auto& map = PermanentMap();
  if (map.count(hWnd) != 0) return FALSE;
  map[hWnd] = this;
  m_hWnd = hWnd;
  return TRUE;
}

HWND CWnd::Detach() {
  HWND hWnd = m_hWnd;
  if (hWnd != NULL) {
    auto& map = PermanentMap();
    auto it = map.find(hWnd);
    if (it != map.end() && it->second == this) map.erase(it);
  }
  m_hWnd = NULL;
  return hWnd;
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
  if (!Attach(hWnd)) return FALSE;
  m_pfnSuper = RouteToCommonProc(hWnd);
  return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent) {
  if (pParent == NULL) return FALSE;
  HWND hWnd = ::GetDlgItem(pParent->m_hWnd, static_cast<int>(nID));
  return hWnd != NULL && SubclassWindow(hWnd);
}

BOOL CWnd::Create(LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                  CWnd* pParentWnd, UINT nID, CCreateContext* pContext) {
  HWND hWndParent = pParentWnd != NULL ? pParentWnd->m_hWnd : NULL;
  if (hWndParent != NULL) dwStyle |= WS_CHILD;
  return CreateEx(0, lpszClassName, lpszWindowName, dwStyle, rect.left, rect.top,
                  rect.right - rect.left, rect.bottom - rect.top, hWndParent,
                  hWndParent != NULL ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)) : NULL,
                  pContext);
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle,
                    int x, int y, int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu,
                    LPVOID lpParam) {
  if (m_hWnd != NULL) return FALSE;
  LPCSTR lpszClass = lpszClassName != NULL ? lpszClassName : RegisterDefaultClass();
  HWND hWnd;
  {
    // Any class may be asked for, so only the hook reaches every window
    // before its first message.
    CWindowCreationHook hook(this, lpszClass);
    hWnd = ::CreateWindowExA(dwExStyle, lpszClass, lpszWindowName, dwStyle, x, y, nWidth, nHeight,
                             hWndParent, nIDorHMenu, AfxGetInstanceHandle(), lpParam);
  }
  if (hWnd != NULL && m_hWnd != hWnd) {
    ::DestroyWindow(hWnd);  // made, but not attached to this object
    return FALSE;
  }
  return hWnd != NULL;
}

BOOL CWnd::DestroyWindow() {
  HWND hWnd = m_hWnd;
  if (hWnd == NULL) return FALSE;
  BOOL bResult = ::DestroyWindow(hWnd);
  // A window that does not run the common procedure sent us no WM_NCDESTROY.
  if (m_hWnd == hWnd && !::IsWindow(hWnd)) Detach();
  return bResult;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (!OnWndMsg(message, wParam, lParam, &result)) result = DefWindowProc(message, wParam, lParam);
  return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
  UINT nCode = 0;
  UINT nID = 0;
  if (message == WM_COMMAND) {
    nCode = HIWORD(wParam);
    nID = LOWORD(wParam);
  }
  for (const MessageMap* pMap = GetMessageMap(); pMap != NULL;
       pMap = pMap->pfnGetBaseMap != NULL ? pMap->pfnGetBaseMap() : NULL) {
    for (const MessageMapEntry* pEntry = pMap->lpEntries; pEntry->handler.sig != MessageSig_end;
         ++pEntry) {
      if (pEntry->nMessage == message && pEntry->nCode == nCode && pEntry->nID == nID) {
        return DispatchEntry(pEntry, wParam, lParam, pResult);
      }
    }
  }
  return FALSE;
}

BOOL CWnd::DispatchEntry(const MessageMapEntry* pEntry, WPARAM wParam, LPARAM lParam,
                         LRESULT* pResult) {
  CCmdTarget* pTarget = this;
  const MessageHandler& h = pEntry->handler;
  LRESULT result = 0;
  switch (h.sig) {
    case MessageSig_v_v:
      (pTarget->*h.v_v)();
      break;
    case MessageSig_l_w_l:
      result = (pTarget->*h.l_w_l)(wParam, lParam);
      break;
    case MessageSig_v_u_pt:
      (pTarget->*h.v_u_pt)(static_cast<UINT>(wParam),
                           CPoint(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))));
      break;
    case MessageSig_b_D: {
      CDCHandle dc(reinterpret_cast<HDC>(wParam));
      result = (pTarget->*h.b_D)(&dc);
      break;
    }
    case MessageSig_h_v:
      result = reinterpret_cast<LRESULT>((pTarget->*h.h_v)());
      break;
    case MessageSig_v_hdrop:
      (pTarget->*h.v_hdrop)(reinterpret_cast<HDROP>(wParam));
      break;
    case MessageSig_v_b:
      (pTarget->*h.v_b)(static_cast<BOOL>(wParam));
      break;
    case MessageSig_v_u_l:
      (pTarget->*h.v_u_l)(static_cast<UINT>(wParam), lParam);
      break;
    case MessageSig_end:
      return FALSE;
  }
  *pResult = result;
  return TRUE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_pfnSuper != NULL) return ::CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
  return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() {
  return DefWindowProc(g_current.message, g_current.wParam, g_current.lParam);
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

BOOL CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*) { return FALSE; }

void CWnd::PostNcDestroy() {}

LRESULT CWnd::OnDrawItemMsg(WPARAM wParam, LPARAM lParam) {
  const DRAWITEMSTRUCT* pDis = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
  if (pDis != NULL && pDis->CtlType != ODT_MENU) {
    CWnd* pChild = FromHandlePermanent(pDis->hwndItem);
    LRESULT result = 0;
    if (pChild != NULL && pChild->OnChildNotify(WM_DRAWITEM, wParam, lParam, &result)) {
      return result;
    }
  }
  return Default();
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::PostMessageA(m_hWnd, message, wParam, lParam);
}

void CWnd::SetWindowText(LPCSTR lpszString) { ::SetWindowTextA(m_hWnd, lpszString); }

void CWnd::GetWindowText(CString& rString) const {
  int n = ::GetWindowTextLengthA(m_hWnd);
  int got = ::GetWindowTextA(m_hWnd, rString.GetBuffer(n), n + 1);
  rString.ReleaseBuffer(got);
}

CString CWnd::GetWindowText() const {
  CString str;
  GetWindowText(str);
  return str;
}

BOOL CWnd::EnableWindow(BOOL bEnable) { return ::EnableWindow(m_hWnd, bEnable); }

BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }

BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }

BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }

BOOL CWnd::ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }

CWnd* CWnd::SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }

CWnd* CWnd::GetFocus() { return FromHandle(::GetFocus()); }

void CWnd::Invalidate(BOOL bErase) { ::InvalidateRect(m_hWnd, NULL, bErase); }

void CWnd::InvalidateRect(const RECT* lpRect, BOOL bErase) {
  ::InvalidateRect(m_hWnd, lpRect, bErase);
}

void CWnd::UpdateWindow() { ::UpdateWindow(m_hWnd); }

void CWnd::GetClientRect(LPRECT lpRect) const { ::GetClientRect(m_hWnd, lpRect); }

void CWnd::GetWindowRect(LPRECT lpRect) const { ::GetWindowRect(m_hWnd, lpRect); }

BOOL CWnd::SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags) {
  return ::SetWindowPos(m_hWnd, pWndInsertAfter != NULL ? pWndInsertAfter->m_hWnd : NULL, x, y,
                        cx, cy, nFlags);
}

DWORD CWnd::GetStyle() const { return static_cast<DWORD>(::GetWindowLongA(m_hWnd, GWL_STYLE)); }

CWnd* CWnd::GetParent() const { return FromHandle(::GetParent(m_hWnd)); }

int CWnd::GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }

void CWnd::CenterWindow(CWnd* pAlternateOwner) {
  HWND hWndCenter = pAlternateOwner != NULL ? pAlternateOwner->m_hWnd : NULL;
  RECT rcDlg;
  ::GetWindowRect(m_hWnd, &rcDlg);
  RECT rcArea;
  RECT rcCenter;
  if (GetStyle() & WS_CHILD) {
    HWND hWndParent = ::GetParent(m_hWnd);
    ::GetClientRect(hWndParent, &rcArea);
    ::MapWindowPoints(NULL, hWndParent, reinterpret_cast<POINT*>(&rcDlg), 2);
    rcCenter = rcArea;
    if (hWndCenter != NULL) {
      ::GetWindowRect(hWndCenter, &rcCenter);
      ::MapWindowPoints(NULL, hWndParent, reinterpret_cast<POINT*>(&rcCenter), 2);
    }
  } else {
    if (hWndCenter == NULL) {
      hWndCenter = ::GetWindow(m_hWnd, GW_OWNER);
      if (hWndCenter != NULL && (!::IsWindowVisible(hWndCenter) || ::IsIconic(hWndCenter))) {
        hWndCenter = NULL;
      }
    }
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &rcArea, 0);
    if (hWndCenter != NULL) {
      ::GetWindowRect(hWndCenter, &rcCenter);
    } else {
      rcCenter = rcArea;
    }
  }
  int width = rcDlg.right - rcDlg.left;
  int height = rcDlg.bottom - rcDlg.top;
  int x = (rcCenter.left + rcCenter.right) / 2 - width / 2;
  int y = (rcCenter.top + rcCenter.bottom) / 2 - height / 2;
  if (x + width > rcArea.right) x = rcArea.right - width;
  if (x < rcArea.left) x = rcArea.left;
  if (y + height > rcArea.bottom) y = rcArea.bottom - height;
  if (y < rcArea.top) y = rcArea.top;
  ::SetWindowPos(m_hWnd, NULL, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

CWnd* CWnd::GetDesktopWindow() { return FromHandle(::GetDesktopWindow()); }

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
  return reinterpret_cast<HICON>(
      SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
}

void CWnd::DragAcceptFiles(BOOL bAccept) { ::DragAcceptFiles(m_hWnd, bAccept); }

int CWnd::MessageBox(LPCSTR lpszText, LPCSTR lpszCaption, UINT nType) {
  return AfxShowMessageBox(m_hWnd, lpszText, lpszCaption != NULL ? lpszCaption : AfxGetAppName(),
                           nType);
}

CWnd* CWnd::GetDlgItem(int nID) const { return FromHandle(::GetDlgItem(m_hWnd, nID)); }

void CWnd::SetDlgItemText(int nID, LPCSTR lpszString) { ::SetDlgItemTextA(m_hWnd, nID, lpszString); }

int CWnd::GetDlgItemText(int nID, CString& rString) const {
  HWND hWnd = ::GetDlgItem(m_hWnd, nID);
  rString.Empty();
  if (hWnd == NULL) return 0;
  int n = ::GetWindowTextLengthA(hWnd);
  int got = ::GetWindowTextA(hWnd, rString.GetBuffer(n), n + 1);
  rString.ReleaseBuffer(got);
  return got;
}

LRESULT CWnd::SendDlgItemMessage(int nID, UINT message, WPARAM wParam, LPARAM lParam) {
  return ::SendDlgItemMessageA(m_hWnd, nID, message, wParam, lParam);
}

void CWnd::CheckDlgButton(int nIDButton, UINT nCheck) { ::CheckDlgButton(m_hWnd, nIDButton, nCheck); }

UINT CWnd::IsDlgButtonChecked(int nIDButton) const {
  return ::IsDlgButtonChecked(m_hWnd, nIDButton);
}

void CWnd::OnPaint() { Default(); }

void CWnd::OnClose() { Default(); }

void CWnd::OnLButtonDown(UINT, CPoint) { Default(); }

BOOL CWnd::OnEraseBkgnd(CDC*) { return static_cast<BOOL>(Default()); }

HCURSOR CWnd::OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }

void CWnd::OnDropFiles(HDROP) { Default(); }

void CWnd::OnEndSession(BOOL) { Default(); }

void CWnd::OnSysCommand(UINT, LPARAM) { Default(); }
