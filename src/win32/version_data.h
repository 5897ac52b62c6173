// Version resources as the system's version service gives them: reading a
// file's version data and looking up its string entries. The version reader
// and the console tool both read through these.
#ifndef QUENLAT_WIN32_VERSION_DATA_H
#define QUENLAT_WIN32_VERSION_DATA_H

#include <windows.h>

#include <string>
#include <vector>

// Reads the version data of the file at path into *data. False when the
// file has none or it cannot be read.
bool ReadVersionData(const std::string& path, std::vector<char>* data);

// The name of a string table for a translation-table entry: the language
// (low 16 bits) and then the code page (high 16 bits) as eight lower-case
// hexadecimal digits, e.g. 0x04E40409 gives "040904e4".
std::string TranslationBlockName(DWORD dwTranslation);

// How a lookup of a string entry ended.
enum VersionStringLookup {
  kVersionStringFound,
  kVersionNoTranslations,     // the data has no translation table, or it is empty
  kVersionNoSuchTranslation,  // the table has fewer entries than the index asks for
  kVersionNoSuchEntry,        // that translation's string table has no such entry
};

// Looks up the string entry strName of translation nLanguage (0 for the
// first) in pData, version data as ReadVersionData gives it. Found: *value
// is the entry's text, empty for an entry of length 0, never read past its
// length. *entryPath (when given) is the entry's path in the data,
// "\StringFileInfo\<block>\<name>", once the translation is known.
VersionStringLookup LookUpVersionString(const void* pData, UINT nLanguage, const char* name,
                                        std::string* value, std::string* entryPath = nullptr);

#endif
