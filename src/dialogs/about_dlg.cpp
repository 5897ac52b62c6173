#include "dialogs/about_dlg.h"

#include <string>

#include "framework/winapp.h"
#include "resources/drop_about.h"
#include "version/version_info.h"

CString BuildKindText(const VS_FIXEDFILEINFO* pFixedInfo) {
  if (pFixedInfo == NULL) return CString();
  DWORD dwFlags = pFixedInfo->dwFileFlags;
  CString strBuild;
  if (dwFlags == 0) {
    strBuild = "Release ";
  } else {
    if (dwFlags & VS_FF_DEBUG) strBuild = "Debug ";
    if (dwFlags & VS_FF_PRERELEASE) strBuild += "Prerelease ";
  }
  strBuild += "Build";
  return strBuild;
}

CString MemoryText(DWORD dwMemoryLoad) {
  // The load is a percentage; a figure above 100 is read as 100.
  CString strMemory;
  strMemory << static_cast<unsigned long>(dwMemoryLoad < 100 ? 100 - dwMemoryLoad : 0)
            << "% Free";
  return strMemory;
}

CString ProcessorText(DWORD dwProcessorType) {
  switch (dwProcessorType) {
    case PROCESSOR_INTEL_386:
      return "Intel 80386";
    case PROCESSOR_INTEL_486:
      return "Intel 80486";
    case PROCESSOR_INTEL_PENTIUM:
      return "Intel Pentium";
    case PROCESSOR_MIPS_R4000:
      return "MIPS R4000";
    case PROCESSOR_ALPHA_21064:
      return "Alpha 21064";
    default:
      return "Unknown";
  }
}

CString DiskSpaceText(DWORD dwSectorsPerCluster, DWORD dwBytesPerSector, DWORD dwFreeClusters,
                      DWORD dwTotalClusters) {
  unsigned long long freeBytes = static_cast<unsigned long long>(dwFreeClusters) *
                                 dwBytesPerSector * dwSectorsPerCluster;
  CString strDisk(std::to_string(freeBytes / 1024).c_str());
  strDisk << " KB Free";
  if (dwTotalClusters != 0) {
    unsigned long long percent = static_cast<unsigned long long>(dwFreeClusters) * 100 /
                                 dwTotalClusters;
    strDisk << " (" << std::to_string(percent).c_str() << "%)";
  }
  return strDisk;
}

CAboutDlg::CAboutDlg(CWnd* pParent) : CDialog(IDD_ABOUT, pParent) {}

void CAboutDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Text(pDX, IDC_ABOUT_DISK_SPACE, m_strDiskSpace);
  DDX_Text(pDX, IDC_ABOUT_MEMORY, m_strMemory);
  DDX_Text(pDX, IDC_ABOUT_APP_NAME, m_strAppName);
  DDX_Text(pDX, IDC_ABOUT_VERSION, m_strVersion);
  DDX_Text(pDX, IDC_ABOUT_COPYRIGHT, m_strCopyright);
  DDX_Text(pDX, IDC_ABOUT_BUILD, m_strBuild);
  DDX_Text(pDX, IDC_ABOUT_PROCESSOR, m_strProcessor);
}

BOOL CAboutDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  {
    CVersionInfo versionInfo;
    versionInfo.LoadFromModule(AfxGetInstanceHandle());

    CString strName;
    versionInfo.GetString(strName, "ProductName", 0);
    SetWindowText("About " + strName);
    m_strAppName = strName;

    CString strVersion;
    versionInfo.GetString(strVersion, "ProductVersion", 0);
    m_strVersion = "Version " + strVersion;

    versionInfo.GetString(m_strCopyright, "LegalCopyright", 0);
    m_strBuild = BuildKindText(versionInfo.GetFixedInfo());

    MEMORYSTATUS memoryStatus = {};
    memoryStatus.dwLength = sizeof memoryStatus;
    ::GlobalMemoryStatus(&memoryStatus);
    m_strMemory = MemoryText(memoryStatus.dwMemoryLoad);

    SYSTEM_INFO systemInfo = {};
    ::GetSystemInfo(&systemInfo);
    m_strProcessor = ProcessorText(systemInfo.dwProcessorType);

    // Without the drive's figures the line stays empty.
    DWORD dwSectorsPerCluster = 0, dwBytesPerSector = 0, dwFreeClusters = 0,
          dwTotalClusters = 0;
    if (::GetDiskFreeSpaceA(NULL, &dwSectorsPerCluster, &dwBytesPerSector, &dwFreeClusters,
                            &dwTotalClusters)) {
      m_strDiskSpace = DiskSpaceText(dwSectorsPerCluster, dwBytesPerSector, dwFreeClusters,
                                     dwTotalClusters);
    }

    UpdateData(FALSE);
    m_btnIcon.SubclassDlgItem(IDC_ABOUT_ICON, this);
    m_btnIcon.SizeToIcon();
    CenterWindow(GetDesktopWindow());
  }  // the version data is freed here
  return TRUE;
}
