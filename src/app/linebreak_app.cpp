#include "app/linebreak_app.h"

#include "app/command_line.h"
#include "app/main_window.h"
#include "dialogs/translate_dlg.h"

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
  auto isLeadByte = [nCodePage](unsigned char c) {
    return ::IsDBCSLeadByteEx(nCodePage, c) != FALSE;
  };
  for (const std::string& token : SplitCommandLineText(pszCmdLine, isLeadByte)) {
    pList->AddTail(CString(token.data(), static_cast<int>(token.size())));
  }
  return TRUE;
}
