#include "app/linebreak_app.h"

#include <string>

#include "app/command_line.h"
#include "app/main_window.h"
#include "dialogs/translate_dlg.h"
#include "win32/wide_text.h"

CLinebreakApp::CLinebreakApp() : CProfileApp(NULL) {}

CLinebreakApp::~CLinebreakApp() {}

BOOL CLinebreakApp::InitInstance() {
  Enable3dControls();  // where the system lacks them, dialogs stay flat
  SetDialogBkColor(RGB(192, 192, 192), RGB(0, 0, 0));
  LoadStdProfileSettings(4);

  // Started through the entry point, the names come from the system's
  // UTF-16 command line; the ANSI one would give a look-alike of a name
  // whose characters the code page lacks, and so another file.
  std::wstring wideLine;
  if (m_lpCmdLineW != NULL) {
    wideLine = m_lpCmdLineW;
  } else if (int n = ::MultiByteToWideChar(CP_ACP, 0, m_lpCmdLine, -1, NULL, 0)) {
    wideLine.resize(static_cast<size_t>(n));
    ::MultiByteToWideChar(CP_ACP, 0, m_lpCmdLine, -1, &wideLine[0], n);
    wideLine.resize(wideLine.size() - 1);
  }
  if (!wideLine.empty()) {
    CStringList fileList;
    SplitCommandLine(wideLine.c_str(), &fileList);
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

BOOL CLinebreakApp::SplitCommandLine(LPCWSTR pszCmdLine, CStringList* pList) {
  // UTF-8 keeps every unit of a character above 0x7F, so no byte of one is
  // taken for white space or a separator.
  const std::string text = Utf8FromWide(pszCmdLine != NULL ? pszCmdLine : L"",
                                        pszCmdLine != NULL ? wcslen(pszCmdLine) : 0);
  for (const std::string& token : SplitCommandLineText(text.c_str())) {
    pList->AddTail(CString(token.data(), static_cast<int>(token.size())));
  }
  return TRUE;
}
