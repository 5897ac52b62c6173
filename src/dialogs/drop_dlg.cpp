#include "dialogs/drop_dlg.h"

#include "app/profile_app.h"
#include "dialogs/about_dlg.h"
#include "dialogs/translate_dlg.h"
#include "framework/gdi.h"
#include "framework/winapp.h"
#include "resources/drop_about.h"
#include "settings/settings.h"
#include "win32/wide_text.h"

#include <string>

namespace {

// The option lives in the program's profile, on its application object.
CProfileApp* ProfileApp() { return dynamic_cast<CProfileApp*>(AfxGetApp()); }

}  // namespace

BEGIN_MESSAGE_MAP(CDropDlg, CDialog)
  ON_WM_PAINT()
  ON_WM_QUERYDRAGICON()
  ON_WM_DROPFILES()
  ON_BN_CLICKED(IDC_ABOUT, &CDropDlg::OnAbout)
  ON_WM_ENDSESSION()
  ON_BN_CLICKED(IDC_AUTO_MINIMIZE, &CDropDlg::OnAutoMinimize)
  ON_MESSAGE(WM_QUERYOPEN, &CDropDlg::OnQueryOpen)
  ON_WM_SYSCOMMAND()
END_MESSAGE_MAP()

CDropDlg::CDropDlg(CWnd* pParent)
    : CDialog(IDD_DROP, pParent),
      m_hIcon(::LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(IDI_APPLICATION_ICON))),
      m_bRefuseFirstOpen(FALSE) {}

CDropDlg::~CDropDlg() {}

void CDropDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_AUTO_MINIMIZE, m_btnAutoMinimize);
}

BOOL CDropDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  CenterWindow();
  SetIcon(m_hIcon, TRUE);
  DragAcceptFiles(TRUE);
  // Without the program's application object the option keeps its default.
  CProfileApp* pApp = ProfileApp();
  BOOL bAutoMinimize = pApp != NULL ? pApp->GetProfileBool(kAutoMinimizeEntry.lpszSection,
                                                           kAutoMinimizeEntry.lpszEntry, TRUE)
                                    : TRUE;
  m_btnAutoMinimize.SetCheck(bAutoMinimize);
  if (bAutoMinimize) {
    SendMessage(WM_SYSCOMMAND, SC_MINIMIZE);
    m_bRefuseFirstOpen = IsIconic();
  }
  return TRUE;
}

void CDropDlg::OnCancel() { CDialog::OnCancel(); }

BOOL CDropDlg::GetDroppedFiles(HDROP hDrop, CStringList* pList) {
  pList->RemoveAll();
  // In UTF-16: the ANSI form of a name may be a look-alike, another file's.
  UINT nCount = ::DragQueryFileW(hDrop, 0xFFFFFFFF, NULL, 0);
  for (UINT i = 0; i < nCount; ++i) {
    UINT nLength = ::DragQueryFileW(hDrop, i, NULL, 0);
    std::wstring path(nLength + 1, L'\0');
    nLength = ::DragQueryFileW(hDrop, i, &path[0], nLength + 1);
    const std::string name = Utf8FromWide(path.data(), nLength);
    pList->AddTail(CString(name.data(), static_cast<int>(name.size())));
  }
  return TRUE;
}

void CDropDlg::OnDropFiles(HDROP hDropInfo) {
  CStringList fileList;
  GetDroppedFiles(hDropInfo, &fileList);
  ::DragFinish(hDropInfo);  // before the batch: the shell's data is not needed
  {
    CTranslateDlg dlg(&fileList, NULL);
    dlg.DoModal();
    MinimizeIfChosen();
  }  // the dialog goes before the list it reads
}

void CDropDlg::MinimizeIfChosen() {
  if (m_btnAutoMinimize.GetCheck() != BST_UNCHECKED) SendMessage(WM_SYSCOMMAND, SC_MINIMIZE);
}

void CDropDlg::OnAutoMinimize() {
  CProfileApp* pApp = ProfileApp();
  if (pApp != NULL) {
    pApp->WriteProfileBool(kAutoMinimizeEntry.lpszSection, kAutoMinimizeEntry.lpszEntry,
                           m_btnAutoMinimize.GetCheck() != BST_UNCHECKED);
  }
}

void CDropDlg::OnAbout() {
  CAboutDlg dlg(NULL);
  dlg.DoModal();
}

void CDropDlg::OnEndSession(BOOL bEnding) {
  CDialog::OnEndSession(bEnding);
  if (bEnding) SendMessage(WM_CLOSE);
}

void CDropDlg::OnPaint() {
  if (!IsIconic()) {
    CDialog::OnPaint();
    return;
  }
  CPaintDC dc(this);
  SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
  int cx = ::GetSystemMetrics(SM_CXICON);
  int cy = ::GetSystemMetrics(SM_CYICON);
  RECT rc;
  GetClientRect(&rc);
  int x = (rc.right - rc.left - cx + 1) / 2;
  int y = (rc.bottom - rc.top - cy + 1) / 2;
  dc.DrawIcon(x, y, m_hIcon);
}

void CDropDlg::OnSysCommand(UINT nID, LPARAM) {
  if ((nID & 0xFFF0) == SC_RESTORE) m_bRefuseFirstOpen = FALSE;
  Default();
}

LRESULT CDropDlg::OnQueryOpen(WPARAM, LPARAM) {
  // A restore that comes from no system command while the opening's
  // minimise stands is the dialog manager's show step (see
  // m_bRefuseFirstOpen); it comes once.
  if (m_bRefuseFirstOpen) {
    m_bRefuseFirstOpen = FALSE;
    return FALSE;
  }
  return Default();
}

HCURSOR CDropDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }
