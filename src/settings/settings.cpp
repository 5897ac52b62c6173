#include "settings/settings.h"

#include "framework/winapp.h"
#include "settings/bool_words.h"

const ProfileEntry kTransModeEntry = {"Options", "TransMode"};
const ProfileEntry kAutoMinimizeEntry = {"Options", "AutoMinimize"};
const ProfileEntry kErrorMessagesEntry = {"Debug", "ErrorMessages"};

namespace {

// Both word rules compare the text lower-cased by the system's rules.
void LowerCaseInPlace(CString& strText) {
  if (strText.IsEmpty()) return;
  ::CharLowerA(strText.GetBuffer(0));
  strText.ReleaseBuffer();
}

}  // namespace

int LookupBoolWord(CString& strText) {
  LowerCaseInPlace(strText);
  return LookupLowerCaseBoolWord(strText);
}

BOOL IsSwitchOn(CString& strText) {
  LowerCaseInPlace(strText);
  return LookupLowerCaseSwitchWord(strText);
}

BOOL GetProfileBool(CWinApp& app, LPCSTR lpszSection, LPCSTR lpszEntry, BOOL bDefault) {
  CString strValue = app.GetProfileString(lpszSection, lpszEntry);
  if (strValue.IsEmpty()) return bDefault;
  return LookupBoolWord(strValue);
}

BOOL WriteProfileBool(CWinApp& app, LPCSTR lpszSection, LPCSTR lpszEntry, BOOL bValue) {
  return app.WriteProfileString(lpszSection, lpszEntry, bValue ? "yes" : "no");
}
