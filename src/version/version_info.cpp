#include "version/version_info.h"

#include <string>

#include "framework/winapp.h"
#include "settings/settings.h"
#include "win32/module_path.h"
#include "win32/version_data.h"

namespace {

// One lock of a global memory block, released on every way out of the scope.
class CGlobalLock {
 public:
  explicit CGlobalLock(HGLOBAL hMem) : m_hMem(hMem), m_p(::GlobalLock(hMem)) {}
  ~CGlobalLock() {
    if (m_p != NULL) ::GlobalUnlock(m_hMem);
  }
  CGlobalLock(const CGlobalLock&) = delete;
  CGlobalLock& operator=(const CGlobalLock&) = delete;

  void* Get() const { return m_p; }

 private:
  HGLOBAL m_hMem;
  void* m_p;
};

void FreeLockedBlock(HGLOBAL hMem) {
  ::GlobalUnlock(hMem);
  ::GlobalFree(hMem);
}

}  // namespace

CString VersionBlockName(DWORD dwTranslation) {
  return CString(TranslationBlockName(dwTranslation).c_str());
}

CVersionInfo::CVersionInfo() : m_hVersionData(NULL), m_pFixedInfo(NULL), m_bErrorMessages(FALSE) {
  CWinApp* pApp = AfxGetApp();
  if (pApp != NULL) {
    CString strSwitch = pApp->GetProfileString(kErrorMessagesEntry.lpszSection,
                                                 kErrorMessagesEntry.lpszEntry);
    m_bErrorMessages = IsSwitchOn(strSwitch);
  }
}

CVersionInfo::~CVersionInfo() {
  if (m_hVersionData != NULL) FreeLockedBlock(m_hVersionData);
}

BOOL CVersionInfo::LoadFromFile(LPCSTR lpszPath) { return Load(CString(lpszPath), NULL); }

BOOL CVersionInfo::Load(const CString& strPath, const wchar_t* pszWidePath) {
  DWORD dwHandle = 0;
  DWORD dwSize = pszWidePath != NULL ? ::GetFileVersionInfoSizeW(pszWidePath, &dwHandle)
                                     : ::GetFileVersionInfoSizeA(strPath, &dwHandle);
  if (dwSize == 0) {
    ReportError(strPath + " does not contain version information");
    return FALSE;
  }
  HGLOBAL hNew = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, dwSize);
  if (hNew == NULL) {
    ReportError("Out of global memory");
    return FALSE;
  }
  void* pData = ::GlobalLock(hNew);
  if (pData == NULL) {
    ReportError("Out of global memory");
    ::GlobalFree(hNew);
    return FALSE;
  }
  const BOOL bRead = pszWidePath != NULL
                        ? ::GetFileVersionInfoW(pszWidePath, dwHandle, dwSize, pData)
                        : ::GetFileVersionInfoA(strPath, dwHandle, dwSize, pData);
  if (!bRead) {
    ReportError("Failed to load version resource for " + strPath);
    FreeLockedBlock(hNew);
    return FALSE;
  }
  void* pFixed = NULL;
  UINT nLength = 0;
  // The version service answers for a root without a record too, with a
  // length of 0 and a pointer to whatever follows: no record is there.
  if (!::VerQueryValueA(pData, "\\", &pFixed, &nLength) || pFixed == NULL ||
      nLength < sizeof(VS_FIXEDFILEINFO)) {
    ReportError("Couldn't find fixed info block in " + strPath);
    FreeLockedBlock(hNew);
    return FALSE;
  }
  if (m_hVersionData != NULL) FreeLockedBlock(m_hVersionData);
  m_hVersionData = hNew;
  m_pFixedInfo = static_cast<const VS_FIXEDFILEINFO*>(pFixed);
  return TRUE;
}

BOOL CVersionInfo::LoadFromModule(HMODULE hModule) {
  // Through the code page the path of a folder named in another script would
  // name a look-alike's file, or none.
  const std::wstring path = ModuleFilePathW(hModule);
  if (path.empty()) return LoadFromFile("");
  return Load(CString(AnsiForDisplay(path).c_str()), path.c_str());
}

BOOL CVersionInfo::GetString(CString& strValue, const CString& strName, UINT nLanguage) {
  if (m_hVersionData == NULL) {
    ReportError("No version info loaded");
    return FALSE;
  }
  CGlobalLock lock(m_hVersionData);
  if (lock.Get() == NULL) {
    ReportError("No version info loaded");
    return FALSE;
  }
  std::string value;
  std::string entryPath;
  switch (LookUpVersionString(lock.Get(), nLanguage, strName, &value, &entryPath)) {
    case kVersionNoTranslations:
      ReportError("There are no info blocks");
      return FALSE;
    case kVersionNoSuchTranslation:
      ReportError("Language index out of range");
      return FALSE;
    case kVersionNoSuchEntry:
      ReportError(("Version entry [" + entryPath + "] not present").c_str());
      return FALSE;
    case kVersionStringFound:
      break;
  }
  strValue = CString(value.data(), static_cast<int>(value.size()));
  return TRUE;
}

void CVersionInfo::ReportError(LPCSTR lpszMessage) {
  m_strLastError = lpszMessage;
  if (m_bErrorMessages) AfxMessageBox(m_strLastError, MB_OK | MB_ICONEXCLAMATION);
}
