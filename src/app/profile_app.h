// CProfileApp: the application base class between the framework's
// CWinApp and the program's CLinebreakApp, with the yes/no profile
// operations of the settings store (settings/settings.h) as members.
#ifndef QUENLAT_APP_PROFILE_APP_H
#define QUENLAT_APP_PROFILE_APP_H

#include "framework/winapp.h"

// Start-up does nothing and succeeds, the exit hook returns 0 and saves
// nothing.
class CProfileApp : public CWinApp {
 public:
  explicit CProfileApp(LPCSTR lpszAppName = NULL) : CWinApp(lpszAppName) {}
  ~CProfileApp() override {}

  // Returns TRUE.
  BOOL InitInstance() override;
  // Returns 0.
  int ExitInstance() override;

  // GetProfileBool and WriteProfileBool of the settings store, on this
  // application's profile.
  BOOL GetProfileBool(LPCSTR lpszSection, LPCSTR lpszEntry, BOOL bDefault);
  BOOL WriteProfileBool(LPCSTR lpszSection, LPCSTR lpszEntry, BOOL bValue);
};

#endif
