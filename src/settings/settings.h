// The settings store: the entries of the application's profile, named once
// here, and the yes/no reads and writes on them. Any layer may use it; it
// knows the framework's application object (CWinApp), not the program's.
//
// Settings live in the application's profile file (CWinApp::m_pszProfileName,
// the executable's base name with ".INI", kept by the system in the Windows
// directory). Every read asks the profile service afresh and every write
// goes to it at once; nothing is cached or saved at exit. Integers and texts
// go through CWinApp's GetProfileInt, WriteProfileInt, GetProfileString and
// WriteProfileString.
#ifndef QUENLAT_SETTINGS_SETTINGS_H
#define QUENLAT_SETTINGS_SETTINGS_H

#include <windows.h>

#include "framework/text.h"

class CWinApp;

// Where an entry lives in the profile.
struct ProfileEntry {
  LPCSTR lpszSection;
  LPCSTR lpszEntry;
};

// [Options] TransMode: the translation mode, signed decimal ("%d"); missing: 0.
extern const ProfileEntry kTransModeEntry;
// [Options] AutoMinimize: "yes" or "no"; missing or empty: yes.
extern const ProfileEntry kAutoMinimizeEntry;
// [Debug] ErrorMessages: read only; "on" or "1", in any case, turns it on;
// missing: off.
extern const ProfileEntry kErrorMessagesEntry;

// A yes/no entry of app's profile: bDefault (unchanged) when the entry is
// missing or its value is empty, otherwise LookupBoolWord of the value: 1
// for "yes", "on" or "1", 0 for any other word, in any mix of case.
BOOL GetProfileBool(CWinApp& app, LPCSTR lpszSection, LPCSTR lpszEntry, BOOL bDefault);
// Writes "yes" when bValue is non-zero and "no" when it is zero; the result
// is the text write's.
BOOL WriteProfileBool(CWinApp& app, LPCSTR lpszSection, LPCSTR lpszEntry, BOOL bValue);

// The value of a word in the boolean word table ("yes", "on", "1": 1; "no",
// "off", "0": 0), 0 when the word is not there. Lower-cases strText in place
// first (CharLowerA) and compares whole words.
int LookupBoolWord(CString& strText);

// The ErrorMessages switch rule: lower-cases strText in place (CharLowerA)
// and is TRUE when it then reads "on" or "1". Anything else, "yes" and the
// empty text included, is FALSE.
BOOL IsSwitchOn(CString& strText);

#endif
