// CAboutDlg: the About box. Shows the product name, version and copyright of
// the program's own version resource, its build kind, the free physical
// memory, the processor and the free space of the current drive, with the
// application's icon at twice its size. Every text is computed once, when
// the dialog opens.
#ifndef QUENLAT_DIALOGS_ABOUT_DLG_H
#define QUENLAT_DIALOGS_ABOUT_DLG_H

#include <windows.h>

#include "controls/icon_button.h"
#include "framework/dialog.h"
#include "framework/text.h"

class CAboutDlg : public CDialog {
 public:
  // The dialog of template 100; every text empty until it opens.
  explicit CAboutDlg(CWnd* pParent = NULL);

  CString m_strDiskSpace;
  CString m_strMemory;
  CString m_strAppName;
  CString m_strVersion;
  CString m_strCopyright;
  CString m_strBuild;
  CString m_strProcessor;
  CIconButton m_btnIcon;

 protected:
  // The seven texts into their static controls.
  void DoDataExchange(CDataExchange* pDX) override;
  // Reads the version data and the machine's figures, shows them, sizes the
  // icon button and centres the box on the desktop.
  BOOL OnInitDialog() override;
};

// The build-kind line for the fixed record's file flags, as stored:
// "Release Build" for none, otherwise "Debug " (bit 0) and "Prerelease "
// (bit 1) before "Build". Without a record (no version data) the line is
// empty, like any other text that cannot be read.
CString BuildKindText(const VS_FIXEDFILEINFO* pFixedInfo);

// The memory line: the percentage of physical memory not in use, as
// "63% Free" for a load of 37.
CString MemoryText(DWORD dwMemoryLoad);

// The processor line for GetSystemInfo's processor type: "Intel 80386",
// "Intel 80486", "Intel Pentium", "MIPS R4000", "Alpha 21064" or "Unknown".
CString ProcessorText(DWORD dwProcessorType);

// The disk line from GetDiskFreeSpaceA's figures: the free kilobytes and the
// free percentage of all clusters, as "4000000 KB Free (50%)", computed in
// 64 bits with truncated quotients. With no clusters in total there is no
// percentage: "0 KB Free".
CString DiskSpaceText(DWORD dwSectorsPerCluster, DWORD dwBytesPerSector, DWORD dwFreeClusters,
                      DWORD dwTotalClusters);

#endif
