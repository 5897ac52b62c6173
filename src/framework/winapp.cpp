#include "framework/winapp.h"

#include <cstdio>

#include "framework/wnd.h"
#include "win32/module_path.h"

namespace {

CWinApp* g_pApp = NULL;
char g_szEmpty[1] = {'\0'};

// The full path of a module's file, however long.
CString ModulePath(HMODULE hModule) { return CString(ModuleFilePath(hModule).c_str()); }

typedef BOOL(WINAPI* Ctl3dFunction)(HINSTANCE);

Ctl3dFunction GetCtl3dFunction(HMODULE hModule, const char* name) {
  // Through the generic function type, which converts to any other.
  return reinterpret_cast<Ctl3dFunction>(
      reinterpret_cast<void (*)()>(::GetProcAddress(hModule, name)));
}

}  // namespace

// --- Names

CString ExeNameFromPath(LPCSTR lpszPath) {
  const char* pszName = lpszPath;
  const char* pszDot = NULL;
  for (const char* p = lpszPath; *p != '\0'; p = ::CharNextA(p)) {
    if (*p == '\\' || *p == '/' || *p == ':') {
      pszName = p + 1;
      pszDot = NULL;
    } else if (*p == '.') {
      pszDot = p;
    }
  }
  if (pszDot == NULL) return CString(pszName);
  return CString(pszName, static_cast<int>(pszDot - pszName));
}

CString ProfileNameFromPath(LPCSTR lpszPath) { return ExeNameFromPath(lpszPath) + ".INI"; }

// --- CWinApp

CWinApp::CWinApp(LPCSTR lpszAppName)
    : m_hInstance(NULL),
      m_lpCmdLine(g_szEmpty),
      m_lpCmdLineW(NULL),
      m_nCmdShow(SW_SHOWNORMAL),
      m_pszAppName(NULL),
      m_pszExeName(NULL),
      m_pszProfileName(NULL),
      m_pMainWnd(NULL),
      m_hDlgBkBrush(NULL),
      m_crDlgText(RGB(0, 0, 0)),
      m_crDlgBk(RGB(192, 192, 192)),
      m_msgCur(),
      m_bAppNameGiven(lpszAppName != NULL),
      m_hCtl3d(NULL),
      m_pPreviousApp(g_pApp) {
  if (lpszAppName != NULL) {
    m_strAppName = lpszAppName;
    m_pszAppName = m_strAppName;
  }
  g_pApp = this;
}

CWinApp::~CWinApp() {
  ReleaseLook();
  if (g_pApp == this) g_pApp = m_pPreviousApp;
}

void CWinApp::SetNamesFromModule() {
  HINSTANCE hInstance = m_hInstance != NULL ? m_hInstance : ::GetModuleHandleA(NULL);
  CString strPath = ModulePath(hInstance);
  m_strExeName = ExeNameFromPath(strPath);
  m_pszExeName = m_strExeName;
  if (!m_bAppNameGiven) {
    char szName[256];
    if (::LoadStringA(hInstance, kAppNameStringId, szName, sizeof szName) > 0) {
      m_strAppName = szName;
    } else {
      m_strAppName = m_strExeName;
    }
  }
  m_pszAppName = m_strAppName;
  m_strProfileName = ProfileNameFromPath(strPath);
  m_pszProfileName = m_strProfileName;
}

void CWinApp::EnsureNames() {
  if (m_pszProfileName == NULL) SetNamesFromModule();
}

void CWinApp::SetProfileName(LPCSTR lpszProfileName) {
  EnsureNames();
  m_strProfileName = lpszProfileName;
  m_pszProfileName = m_strProfileName;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return static_cast<int>(m_msgCur.wParam); }

int CWinApp::Run() {
  // The loop that owns WM_QUIT: it ends here and is not posted again.
  MSG msg;
  BOOL bGot;
  while ((bGot = ::GetMessageA(&msg, NULL, 0, 0)) != 0 && bGot != -1) {
    if (!PreTranslateMessage(&msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  }
  if (bGot == 0) m_msgCur = msg;
  return ExitInstance();
}

BOOL CWinApp::PumpMessage() {
  MSG msg;
  BOOL bGot = ::GetMessageA(&msg, NULL, 0, 0);
  if (bGot == 0) {
    m_msgCur = msg;
    ::PostQuitMessage(static_cast<int>(msg.wParam));
    return FALSE;
  }
  if (bGot == -1) return FALSE;
  if (!PreTranslateMessage(&msg)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  return TRUE;
}

BOOL CWinApp::PreTranslateMessage(MSG* pMsg) {
  for (HWND hWnd = pMsg->hwnd; hWnd != NULL;) {
    CWnd* pWnd = CWnd::FromHandlePermanent(hWnd);
    if (pWnd != NULL && pWnd->PreTranslateMessage(pMsg)) return TRUE;
    if (!(::GetWindowLongA(hWnd, GWL_STYLE) & WS_CHILD)) break;
    hWnd = ::GetParent(hWnd);
  }
  return FALSE;
}

BOOL CWinApp::Enable3dControls() {
  if (m_hCtl3d != NULL) return TRUE;
  HMODULE hCtl3d = ::LoadLibraryA("CTL3D32.DLL");
  if (hCtl3d == NULL) return FALSE;
  Ctl3dFunction pfnRegister = GetCtl3dFunction(hCtl3d, "Ctl3dRegister");
  Ctl3dFunction pfnAutoSubclass = GetCtl3dFunction(hCtl3d, "Ctl3dAutoSubclass");
  HINSTANCE hInstance = AfxGetInstanceHandle();
  if (pfnRegister == NULL || pfnAutoSubclass == NULL || !pfnRegister(hInstance)) {
    ::FreeLibrary(hCtl3d);
    return FALSE;
  }
  pfnAutoSubclass(hInstance);
  m_hCtl3d = hCtl3d;
  return TRUE;
}

void CWinApp::SetDialogBkColor(COLORREF clrCtlBk, COLORREF clrCtlText) {
  if (m_hDlgBkBrush != NULL) ::DeleteObject(m_hDlgBkBrush);
  m_hDlgBkBrush = ::CreateSolidBrush(clrCtlBk);
  m_crDlgBk = clrCtlBk;
  m_crDlgText = clrCtlText;
}

void CWinApp::LoadStdProfileSettings(UINT) {}

void CWinApp::ReleaseLook() {
  if (m_hCtl3d != NULL) {
    Ctl3dFunction pfnUnregister = GetCtl3dFunction(m_hCtl3d, "Ctl3dUnregister");
    if (pfnUnregister != NULL) pfnUnregister(AfxGetInstanceHandle());
    ::FreeLibrary(m_hCtl3d);
    m_hCtl3d = NULL;
  }
  if (m_hDlgBkBrush != NULL) {
    ::DeleteObject(m_hDlgBkBrush);
    m_hDlgBkBrush = NULL;
  }
}

int CWinApp::GetProfileInt(LPCSTR lpszSection, LPCSTR lpszEntry, int nDefault) {
  EnsureNames();
  return static_cast<int>(
      ::GetPrivateProfileIntA(lpszSection, lpszEntry, nDefault, m_pszProfileName));
}

BOOL CWinApp::WriteProfileInt(LPCSTR lpszSection, LPCSTR lpszEntry, int nValue) {
  EnsureNames();
  char szValue[16];
  std::snprintf(szValue, sizeof szValue, "%d", nValue);
  return ::WritePrivateProfileStringA(lpszSection, lpszEntry, szValue, m_pszProfileName);
}

CString CWinApp::GetProfileString(LPCSTR lpszSection, LPCSTR lpszEntry, LPCSTR lpszDefault) {
  EnsureNames();
  char szValue[4096];
  ::GetPrivateProfileStringA(lpszSection, lpszEntry, lpszDefault != NULL ? lpszDefault : "",
                             szValue, sizeof szValue, m_pszProfileName);
  return CString(szValue);
}

BOOL CWinApp::WriteProfileString(LPCSTR lpszSection, LPCSTR lpszEntry, LPCSTR lpszValue) {
  EnsureNames();
  return ::WritePrivateProfileStringA(lpszSection, lpszEntry, lpszValue, m_pszProfileName);
}

HICON CWinApp::LoadIcon(UINT nIDResource) const {
  return ::LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(nIDResource));
}

// --- Globals

CWinApp* AfxGetApp() { return g_pApp; }

HINSTANCE AfxGetInstanceHandle() {
  if (g_pApp != NULL && g_pApp->m_hInstance != NULL) return g_pApp->m_hInstance;
  return ::GetModuleHandleA(NULL);
}

HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }

CWnd* AfxGetMainWnd() { return g_pApp != NULL ? g_pApp->m_pMainWnd : NULL; }

LPCSTR AfxGetAppName() {
  if (g_pApp != NULL) {
    if (g_pApp->m_pszAppName == NULL) g_pApp->SetNamesFromModule();
    return g_pApp->m_pszAppName;
  }
  static CString strName;
  if (strName.IsEmpty()) strName = ExeNameFromPath(ModulePath(::GetModuleHandleA(NULL)));
  return strName;
}

int AfxMessageBox(LPCSTR lpszText, UINT nType) {
  return AfxShowMessageBox(::GetActiveWindow(), lpszText, AfxGetAppName(), nType);
}

namespace {
LPCWSTR g_lpCmdLineW = NULL;
}  // namespace

void AfxSetWideCommandLine(LPCWSTR lpCmdLineW) { g_lpCmdLineW = lpCmdLineW; }

BOOL AfxWinInit(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int nCmdShow) {
  CWinApp* pApp = AfxGetApp();
  if (pApp == NULL) return FALSE;
  if (lpCmdLine == NULL) lpCmdLine = g_szEmpty;
  while (*lpCmdLine != '\0' && static_cast<unsigned char>(*lpCmdLine) <= ' ') ++lpCmdLine;
  pApp->m_hInstance = hInstance;
  pApp->m_lpCmdLine = lpCmdLine;
  LPCWSTR lpCmdLineW = g_lpCmdLineW;
  while (lpCmdLineW != NULL && *lpCmdLineW != L'\0' && *lpCmdLineW <= L' ') ++lpCmdLineW;
  pApp->m_lpCmdLineW = lpCmdLineW;
  pApp->m_nCmdShow = nCmdShow;
  pApp->SetNamesFromModule();
  return TRUE;
}

void AfxWinTerm() {
  if (g_pApp != NULL) g_pApp->ReleaseLook();
  AfxPurgeTemporaryWindows();
}

int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow) {
  int nReturnCode = -1;
  CWinApp* pApp = AfxGetApp();
  if (pApp != NULL && AfxWinInit(hInstance, hPrevInstance, lpCmdLine, nCmdShow)) {
    try {
      if (!pApp->InitInstance()) {
        if (pApp->m_pMainWnd != NULL) pApp->m_pMainWnd->DestroyWindow();
        nReturnCode = pApp->ExitInstance();
      } else {
        nReturnCode = pApp->Run();
      }
    } catch (...) {
      nReturnCode = -1;
    }
  }
  AfxWinTerm();
  return nReturnCode;
}
