// CVersionInfo: reads the version resource of an executable file (its fixed
// record, its translation table and its string tables) through the
// platform's version service.
//
// Every failure becomes a message text, kept as the latest error and shown
// in a message box only while the profile switch [Debug] ErrorMessages is on
// (IsSwitchOn of settings/settings.h). Use: construct, LoadFromModule or
// LoadFromFile, then GetString and GetFixedInfo as often as needed.
#ifndef QUENLAT_VERSION_VERSION_INFO_H
#define QUENLAT_VERSION_VERSION_INFO_H

#include <windows.h>

#include "framework/object.h"
#include "framework/text.h"

class CVersionInfo : public CObject {
 public:
  // Nothing loaded; reads the ErrorMessages switch from the profile once.
  CVersionInfo();
  // Frees the version data, if any.
  ~CVersionInfo() override;

  // Loads the version data of the file at lpszPath. TRUE when it is now
  // held (any earlier data is freed); FALSE after a reported failure, with
  // the earlier data, if any, still held.
  BOOL LoadFromFile(LPCSTR lpszPath);
  // LoadFromFile on the file of the module hModule (NULL: the program's).
  // The file is found by its name in UTF-16: in a folder whose name the
  // code page cannot hold, the messages show the name as the code page
  // gives it.
  BOOL LoadFromModule(HMODULE hModule);

  // The value of the string entry strName in the string table of
  // translation nLanguage (0 for the first). TRUE with strValue set (empty
  // for an entry of length 0); FALSE after a reported failure, with
  // strValue untouched.
  BOOL GetString(CString& strValue, const CString& strName, UINT nLanguage);
  // The fixed record of the loaded data as stored (no flag masked), or NULL
  // while nothing is loaded. Valid while this reader holds that data.
  const VS_FIXEDFILEINFO* GetFixedInfo() const { return m_pFixedInfo; }

  // Keeps strMessage as the latest error and, with the switch on, shows it
  // in a message box (OK, exclamation icon) captioned with the
  // application's name and owned by the active window.
  void ReportError(LPCSTR lpszMessage);
  // The text of the latest failure; empty until the first one.
  const CString& GetLastErrorText() const { return m_strLastError; }

 protected:
  // LoadFromFile's steps on the file named strPath in the messages and, when
  // pszWidePath is not NULL, found by that name.
  BOOL Load(const CString& strPath, const wchar_t* pszWidePath);

  // The version data, kept locked while held so that m_pFixedInfo, which
  // points into it, stays valid; NULL while nothing is loaded.
  HGLOBAL m_hVersionData;
  const VS_FIXEDFILEINFO* m_pFixedInfo;
  CString m_strLastError;
  BOOL m_bErrorMessages;
};

// The name of a string table for a translation-table entry: the language
// (low 16 bits) and then the code page (high 16 bits) as eight lower-case
// hexadecimal digits, e.g. 0x04E40409 gives "040904e4".
CString VersionBlockName(DWORD dwTranslation);

#endif
