#include "app/profile_app.h"

#include "settings/settings.h"

BOOL CProfileApp::InitInstance() { return TRUE; }

int CProfileApp::ExitInstance() { return 0; }

BOOL CProfileApp::GetProfileBool(LPCSTR lpszSection, LPCSTR lpszEntry, BOOL bDefault) {
  return ::GetProfileBool(*this, lpszSection, lpszEntry, bDefault);
}

BOOL CProfileApp::WriteProfileBool(LPCSTR lpszSection, LPCSTR lpszEntry, BOOL bValue) {
  return ::WriteProfileBool(*this, lpszSection, lpszEntry, bValue);
}
