// The settings store: the application base class CProfileApp with the
// yes/no profile operations, and the boolean word table behind them.
//
// Settings live in the application's profile file (CWinApp::m_pszProfileName,
// the executable's base name with ".INI", kept by the system in the Windows
// directory). Every read asks the profile service afresh and every write
// goes to it at once; nothing is cached or saved at exit. The entries:
//   [Options] TransMode     signed decimal ("%d"), missing: 0
//   [Options] AutoMinimize  "yes" or "no", missing or empty: yes
//   [Debug]   ErrorMessages read only; "on" or "1" turns it on, missing: off
// Integers and texts go through CWinApp's GetProfileInt, WriteProfileInt,
// GetProfileString and WriteProfileString.
#ifndef QUENLAT_APP_PROFILE_APP_H
#define QUENLAT_APP_PROFILE_APP_H

#include "framework/winapp.h"

// Between the framework's application class and the program's: start-up
// does nothing and succeeds, the exit hook returns 0 and saves nothing.
class CProfileApp : public CWinApp {
 public:
  explicit CProfileApp(LPCSTR lpszAppName = NULL) : CWinApp(lpszAppName) {}
  ~CProfileApp() override {}

  // Returns TRUE.
  BOOL InitInstance() override;
  // Returns 0.
  int ExitInstance() override;

  // A yes/no entry: bDefault (unchanged) when the entry is missing or its
  // value is empty, otherwise LookupBoolWord of the value: 1 for "yes",
  // "on" or "1", 0 for any other word, in any mix of case.
  BOOL GetProfileBool(LPCSTR lpszSection, LPCSTR lpszEntry, BOOL bDefault);
  // Writes "yes" when bValue is non-zero and "no" when it is zero; the
  // result is the text write's.
  BOOL WriteProfileBool(LPCSTR lpszSection, LPCSTR lpszEntry, BOOL bValue);
};

// The value of a word in the boolean word table ("yes", "on", "1": 1; "no",
// "off", "0": 0), 0 when the word is not there. Lower-cases strText in place
// first (CharLowerA) and compares whole words.
int LookupBoolWord(CString& strText);

#endif
