#include "app/profile_app.h"

#include <cstring>

namespace {

struct BoolWord {
  const char* pszWord;
  int nValue;
};

// Searched from the top; the words are lower case.
const BoolWord kBoolWords[] = {
    {"yes", 1}, {"on", 1}, {"1", 1}, {"no", 0}, {"off", 0}, {"0", 0}, {nullptr, 0},
};

}  // namespace

int LookupBoolWord(CString& strText) {
  if (!strText.IsEmpty()) {
    ::CharLowerA(strText.GetBuffer(0));
    strText.ReleaseBuffer();
  }
  for (const BoolWord* p = kBoolWords; p->pszWord != nullptr; ++p) {
    if (std::strcmp(strText, p->pszWord) == 0) return p->nValue;
  }
  return 0;
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
