// CWinApp: the single application object, and the framework's entry point.
//
// The program defines one static object of a class derived from CWinApp.
// The entry point (WinMain, in the quenlat_framework_main library) calls
// AfxWinMain, which:
//   1. AfxWinInit: stores the instance handle, the command line and the show
//      command, fixes the application's name and the profile file's name;
//   2. calls InitInstance; when it returns FALSE no message loop runs, a
//      main window still registered is destroyed and ExitInstance follows;
//      otherwise Run runs the message loop until WM_QUIT, then ExitInstance;
//   3. returns ExitInstance's result as the process's exit code.
//
// Test programs have no WinMain: they construct their own application object
// and call AfxWinInit(GetModuleHandleA(NULL), NULL, (LPSTR) "", SW_SHOWNORMAL)
// themselves, then may point the profile at a scratch file (SetProfileName).
// Where no application object or instance handle exists, the framework takes
// the instance handle from GetModuleHandleA(NULL).
#ifndef QUENLAT_FRAMEWORK_WINAPP_H
#define QUENLAT_FRAMEWORK_WINAPP_H

#include <windows.h>

#include "framework/msgmap.h"
#include "framework/text.h"

class CWnd;

// The string resource that holds the application's name.
const UINT kAppNameStringId = 57344;

class CWinApp : public CCmdTarget {
 public:
  // Makes this the application object. A NULL name means: the text of string
  // resource 57344, or the executable's base name when that is missing
  // (fixed by AfxWinInit). The program has exactly one; a test may make
  // another for a while, and its destructor gives the role back.
  explicit CWinApp(LPCSTR lpszAppName = NULL);
  ~CWinApp() override;

  // --- Set by AfxWinInit.
  HINSTANCE m_hInstance;
  // The command line after the program's name, without the white space
  // and control characters that follow the name; never NULL.
  LPSTR m_lpCmdLine;
  // The same command line as the system holds it, in UTF-16, when the
  // program was started through its entry point (AfxSetWideCommandLine);
  // NULL otherwise. Unlike m_lpCmdLine it names every file exactly, whatever
  // the ANSI code page lacks.
  LPCWSTR m_lpCmdLineW;
  int m_nCmdShow;
  // The application's name (caption of message boxes).
  LPCSTR m_pszAppName;
  // The executable's file name without its directory and extension.
  LPCSTR m_pszExeName;
  // The profile file's name, as given to the private profile service.
  LPCSTR m_pszProfileName;

  // The main window, or NULL. Cleared by the framework when that window is
  // destroyed. Dialogs constructed with no parent are owned by it.
  CWnd* m_pMainWnd;

  // --- Hooks.

  // Start-up, called once after the framework's initialisation. FALSE: no
  // message loop runs. The default returns TRUE.
  virtual BOOL InitInstance();
  // End; the result becomes the process's exit code. The default returns
  // the exit code of the WM_QUIT message that ended the loop (0 if none) and
  // saves nothing.
  virtual int ExitInstance();
  // The message loop: each message as PumpMessage handles it, until WM_QUIT;
  // then ExitInstance.
  virtual int Run();
  // Handles exactly one message: waits for the next message of the thread,
  // offers it to PreTranslateMessage and, unless that handled it, translates
  // and dispatches it. Returns FALSE for WM_QUIT, which is then posted again
  // so that the loop that owns it ends as well.
  virtual BOOL PumpMessage();
  // Offers the message to the permanent window objects of its window and of
  // that window's parents (ending with the top-level window), so that a
  // dialog's keyboard handling applies. TRUE when one of them handled it.
  virtual BOOL PreTranslateMessage(MSG* pMsg);

  // --- Look of the dialogs.

  // Three-dimensional controls: loads CTL3D32.DLL and registers with it when
  // the system has it; FALSE (and nothing changes) otherwise.
  BOOL Enable3dControls();
  // Every dialog of the program, its message boxes included, paints its
  // background, and the background and text of its static texts, buttons,
  // check boxes, radio buttons and group boxes, in these colours.
  void SetDialogBkColor(COLORREF clrCtlBk = RGB(192, 192, 192), COLORREF clrCtlText = RGB(0, 0, 0));
  // The standard settings (a recently-used file list of nMaxMRU entries).
  // The program uses none of them, so nothing is read.
  void LoadStdProfileSettings(UINT nMaxMRU = 4);

  // --- Profile: the private profile file m_pszProfileName, read afresh on
  // every call and written at once.

  // The entry as a decimal integer (GetPrivateProfileIntA), or nDefault when
  // it is missing.
  int GetProfileInt(LPCSTR lpszSection, LPCSTR lpszEntry, int nDefault);
  // Writes nValue formatted with "%d".
  BOOL WriteProfileInt(LPCSTR lpszSection, LPCSTR lpszEntry, int nValue);
  // The entry's text (at most 4095 characters), or lpszDefault when it is
  // missing (NULL: the empty text).
  CString GetProfileString(LPCSTR lpszSection, LPCSTR lpszEntry, LPCSTR lpszDefault = NULL);
  BOOL WriteProfileString(LPCSTR lpszSection, LPCSTR lpszEntry, LPCSTR lpszValue);
  // Points the profile at another file (tests use a scratch file; a name
  // with a directory is used as it stands).
  void SetProfileName(LPCSTR lpszProfileName);

  // --- Resources.
  HICON LoadIcon(UINT nIDResource) const;

  // --- Used by the framework.

  // The brush of the dialog colours and the text colour, or NULL.
  HBRUSH m_hDlgBkBrush;
  COLORREF m_crDlgText;
  COLORREF m_crDlgBk;
  // The message being handled by PumpMessage.
  MSG m_msgCur;

  // Fixes the application's name and the profile's name from the instance
  // handle's module (see AfxWinInit).
  void SetNamesFromModule();
  // Releases CTL3D and the dialog brush.
  void ReleaseLook();

 private:
  void EnsureNames();
  CString m_strAppName;
  CString m_strExeName;
  CString m_strProfileName;
  bool m_bAppNameGiven;
  HMODULE m_hCtl3d;
  CWinApp* m_pPreviousApp;
};

// The application object, or NULL.
CWinApp* AfxGetApp();
// The application's instance handle (GetModuleHandleA(NULL) when none is set).
HINSTANCE AfxGetInstanceHandle();
// Where resources are loaded from: the instance handle.
HINSTANCE AfxGetResourceHandle();
// The registered main window, or NULL.
CWnd* AfxGetMainWnd();
// Called by the entry point before AfxWinMain: the command line after the
// program's name in UTF-16, which AfxWinInit gives to m_lpCmdLineW (without
// the white space and control characters that follow the name). The text
// must outlive the application object's use of it.
void AfxSetWideCommandLine(LPCWSTR lpCmdLineW);
// The application's name (the executable's base name without an application
// object).
LPCSTR AfxGetAppName();
// A message box captioned with the application's name, owned by the
// program's active window (see AfxShowMessageBox).
int AfxMessageBox(LPCSTR lpszText, UINT nType = MB_OK);

// The profile file's name for an executable's full path: the part after
// the last '\\', '/' or ':', without its extension (from the last dot of
// that part), followed by ".INI". Multi-byte aware.
CString ProfileNameFromPath(LPCSTR lpszPath);
// The executable's base name: the same part without ".INI".
CString ExeNameFromPath(LPCSTR lpszPath);

// Step 1 of AfxWinMain; FALSE when there is no application object.
BOOL AfxWinInit(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);
// Releases what the framework holds (CTL3D, the dialog brush, temporary
// window objects).
void AfxWinTerm();
// The whole run, as described at the top of this file.
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);

#endif
