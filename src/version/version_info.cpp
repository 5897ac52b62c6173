#include "version/version_info.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "framework/winapp.h"
#include "settings/settings.h"

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

// The full path of a module's file, however long; empty when it cannot be
// had.
CString ModuleFilePath(HMODULE hModule) {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD n = ::GetModuleFileNameA(hModule, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return CString();
    if (n < buffer.size() - 1) return CString(buffer.data(), static_cast<int>(n));
    if (buffer.size() >= 32768) return CString();  // no sensible path is longer
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

CString VersionBlockName(DWORD dwTranslation) {
  char szName[16];
  std::snprintf(szName, sizeof szName, "%04x%04x", static_cast<unsigned>(dwTranslation & 0xFFFF),
                static_cast<unsigned>(dwTranslation >> 16));
  return CString(szName);
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

BOOL CVersionInfo::LoadFromFile(LPCSTR lpszPath) {
  CString strPath(lpszPath);
  DWORD dwHandle = 0;
  DWORD dwSize = ::GetFileVersionInfoSizeA(strPath, &dwHandle);
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
  if (!::GetFileVersionInfoA(strPath, dwHandle, dwSize, pData)) {
    ReportError("Failed to load version resource for " + strPath);
    FreeLockedBlock(hNew);
    return FALSE;
  }
  void* pFixed = NULL;
  UINT nLength = 0;
  if (!::VerQueryValueA(pData, "\\", &pFixed, &nLength) || pFixed == NULL) {
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
  return LoadFromFile(ModuleFilePath(hModule));
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
  void* pTable = NULL;
  UINT nTableLength = 0;
  if (!::VerQueryValueA(lock.Get(), "\\VarFileInfo\\Translation", &pTable, &nTableLength) ||
      pTable == NULL || nTableLength == 0) {
    ReportError("There are no info blocks");
    return FALSE;
  }
  if (nLanguage >= nTableLength / 4) {
    ReportError("Language index out of range");
    return FALSE;
  }
  DWORD dwTranslation;
  std::memcpy(&dwTranslation, static_cast<const char*>(pTable) + 4 * nLanguage, 4);
  CString strPath = "\\StringFileInfo\\" + VersionBlockName(dwTranslation) + "\\" + strName;
  void* pValue = NULL;
  UINT nLength = 0;
  BOOL bFound = ::VerQueryValueA(lock.Get(), strPath, &pValue, &nLength);
  if (!bFound) {
    ReportError("Version entry [" + strPath + "] not present");
    return bFound;
  }
  if (nLength == 0 || pValue == NULL) {
    strValue.Empty();
  } else {
    // The length may or may not count the terminating zero; never read past it.
    const char* psz = static_cast<const char*>(pValue);
    strValue = CString(psz, static_cast<int>(strnlen(psz, nLength)));
  }
  return bFound;
}

void CVersionInfo::ReportError(LPCSTR lpszMessage) {
  m_strLastError = lpszMessage;
  if (m_bErrorMessages) AfxMessageBox(m_strLastError, MB_OK | MB_ICONEXCLAMATION);
}
