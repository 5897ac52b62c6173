// The boolean word table, without the system's lower-casing: the portable
// core of LookupBoolWord.
#ifndef QUENLAT_APP_BOOL_WORDS_H
#define QUENLAT_APP_BOOL_WORDS_H

// The value of pszText in the boolean word table ("yes", "on", "1": 1; "no",
// "off", "0": 0), 0 when it is not there or is NULL. The whole NUL-terminated
// text is compared as it stands, so callers lower-case it first.
int LookupLowerCaseBoolWord(const char* pszText);

#endif
