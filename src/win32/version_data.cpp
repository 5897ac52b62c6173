#include "win32/version_data.h"

#include <cstdio>
#include <cstring>

bool ReadVersionData(const std::string& path, std::vector<char>* data) {
  DWORD dwHandle = 0;
  DWORD dwSize = ::GetFileVersionInfoSizeA(path.c_str(), &dwHandle);
  if (dwSize == 0) return false;
  data->assign(dwSize, '\0');
  return ::GetFileVersionInfoA(path.c_str(), dwHandle, dwSize, data->data()) != FALSE;
}

std::string TranslationBlockName(DWORD dwTranslation) {
  char szName[16];
  std::snprintf(szName, sizeof szName, "%04x%04x", static_cast<unsigned>(dwTranslation & 0xFFFF),
                static_cast<unsigned>(dwTranslation >> 16));
  return szName;
}

VersionStringLookup LookUpVersionString(const void* pData, UINT nLanguage, const char* name,
                                        std::string* value, std::string* entryPath) {
  // The service takes a non-const pointer but only reads.
  void* pVersion = const_cast<void*>(pData);
  void* pTable = NULL;
  UINT nTableLength = 0;
  if (!::VerQueryValueA(pVersion, "\\VarFileInfo\\Translation", &pTable, &nTableLength) ||
      pTable == NULL || nTableLength == 0) {
    return kVersionNoTranslations;
  }
  if (nLanguage >= nTableLength / 4) return kVersionNoSuchTranslation;
  DWORD dwTranslation;
  std::memcpy(&dwTranslation, static_cast<const char*>(pTable) + 4 * nLanguage, 4);
  const std::string path =
      "\\StringFileInfo\\" + TranslationBlockName(dwTranslation) + "\\" + name;
  if (entryPath != nullptr) *entryPath = path;
  void* pValue = NULL;
  UINT nLength = 0;
  if (!::VerQueryValueA(pVersion, path.c_str(), &pValue, &nLength)) return kVersionNoSuchEntry;
  if (nLength == 0 || pValue == NULL) {
    value->clear();
  } else {
    // The length may or may not count the terminating zero; never read past it.
    const char* psz = static_cast<const char*>(pValue);
    value->assign(psz, strnlen(psz, nLength));
  }
  return kVersionStringFound;
}
