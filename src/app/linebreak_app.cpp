#include "app/linebreak_app.h"

#include "app/main_window.h"
#include "dialogs/translate_dlg.h"

namespace {

bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool IsDelimiter(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

BEGIN_MESSAGE_MAP(CLinebreakApp, CProfileApp)
END_MESSAGE_MAP()

CLinebreakApp::CLinebreakApp() : CProfileApp(NULL) {}

CLinebreakApp::~CLinebreakApp() {}

BOOL CLinebreakApp::InitInstance() {
  Enable3dControls();  // where the system lacks them, dialogs stay flat
  SetDialogBkColor(RGB(192, 192, 192), RGB(0, 0, 0));
  LoadStdProfileSettings(4);

  if (m_lpCmdLine[0] != '\0') {
    CStringList fileList;
    SplitCommandLine(m_lpCmdLine, &fileList);
    CTranslateDlg dlg(&fileList, NULL);  // goes before the list it reads
    dlg.DoModal();
  } else {
    RunMainDropWindow();
  }
  return FALSE;
}

BOOL CLinebreakApp::SplitCommandLine(LPCSTR pszCmdLine, CStringList* pList, UINT nCodePage) {
  const char* p = pszCmdLine != NULL ? pszCmdLine : "";
  // Lead bytes are never white space, so the skips below always stop at the
  // start of a character.
  while (IsWhiteSpace(*p)) ++p;
  while (*p != '\0') {
    const char* pszToken = p;
    while (*p != '\0' && !IsDelimiter(*p)) {
      if (::IsDBCSLeadByteEx(nCodePage, static_cast<BYTE>(*p)) && p[1] != '\0') {
        p += 2;
      } else {
        ++p;
      }
    }
    pList->AddTail(CString(pszToken, static_cast<int>(p - pszToken)));
    while (IsWhiteSpace(*p)) ++p;
  }
  return TRUE;
}
