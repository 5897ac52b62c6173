#include "app/profile_app.h"

#include "app/bool_words.h"

int LookupBoolWord(CString& strText) {
  if (!strText.IsEmpty()) {
    ::CharLowerA(strText.GetBuffer(0));
    strText.ReleaseBuffer();
  }
  return LookupLowerCaseBoolWord(strText);
}

BOOL CProfileApp::InitInstance() { return TRUE; }

int CProfileApp::ExitInstance() { return 0; }

BOOL CProfileApp::GetProfileBool(LPCSTR lpszSection, LPCSTR lpszEntry, BOOL bDefault) {
  CString strValue = GetProfileString(lpszSection, lpszEntry);
  if (strValue.IsEmpty()) return bDefault;
  return LookupBoolWord(strValue);
}

BOOL CProfileApp::WriteProfileBool(LPCSTR lpszSection, LPCSTR lpszEntry, BOOL bValue) {
  return WriteProfileString(lpszSection, lpszEntry, bValue ? "yes" : "no");
}
