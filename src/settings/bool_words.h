// The word tables of the profile's yes/no entries and of the ErrorMessages
// switch, without the system's lower-casing: the portable core of
// LookupBoolWord and IsSwitchOn.
#ifndef QUENLAT_SETTINGS_BOOL_WORDS_H
#define QUENLAT_SETTINGS_BOOL_WORDS_H

// The value of pszText in the boolean word table ("yes", "on", "1": 1; "no",
// "off", "0": 0), 0 when it is not there or is NULL. The whole NUL-terminated
// text is compared as it stands, so callers lower-case it first.
int LookupLowerCaseBoolWord(const char* pszText);

// 1 when pszText is "on" or "1", compared as LookupLowerCaseBoolWord
// compares; 0 for anything else, "yes" and NULL included.
int LookupLowerCaseSwitchWord(const char* pszText);

#endif
