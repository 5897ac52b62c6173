#include "framework/dialog.h"

#include "framework/winapp.h"

// --- Data exchange

HWND CDataExchange::PrepareCtrl(int nIDC) {
  return m_pDlgWnd != NULL ? ::GetDlgItem(m_pDlgWnd->m_hWnd, nIDC) : NULL;
}

void DDX_Radio(CDataExchange* pDX, int nIDC, int& value) {
  HWND hWndCtrl = pDX->PrepareCtrl(nIDC);
  if (hWndCtrl == NULL) return;
  if (pDX->m_bSaveAndValidate) value = -1;
  int iButton = 0;
  HWND hWnd = hWndCtrl;
  do {
    if (::SendMessageA(hWnd, WM_GETDLGCODE, 0, 0) & DLGC_RADIOBUTTON) {
      if (pDX->m_bSaveAndValidate) {
        if (value == -1 && ::SendMessageA(hWnd, BM_GETCHECK, 0, 0) != BST_UNCHECKED) {
          value = iButton;
        }
      } else {
        ::SendMessageA(hWnd, BM_SETCHECK, iButton == value ? BST_CHECKED : BST_UNCHECKED, 0);
      }
      ++iButton;
    }
    hWnd = ::GetWindow(hWnd, GW_HWNDNEXT);
  } while (hWnd != NULL && !(::GetWindowLongA(hWnd, GWL_STYLE) & WS_GROUP));
}

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value) {
  HWND hWndCtrl = pDX->PrepareCtrl(nIDC);
  if (hWndCtrl == NULL) return;
  CString current;
  int n = ::GetWindowTextLengthA(hWndCtrl);
  current.ReleaseBuffer(::GetWindowTextA(hWndCtrl, current.GetBuffer(n), n + 1));
  if (pDX->m_bSaveAndValidate) {
    value = current;
  } else if (current != value) {  // an unchanged text is not set again: no flicker
    ::SetWindowTextA(hWndCtrl, value);
  }
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
  if (rControl.m_hWnd != NULL) return;
  HWND hWndCtrl = pDX->PrepareCtrl(nIDC);
  if (hWndCtrl != NULL) rControl.SubclassWindow(hWndCtrl);
}

// --- CDialog

BEGIN_MESSAGE_MAP(CDialog, CWnd)
  ON_MESSAGE(WM_INITDIALOG, &CDialog::HandleInitDialog)
  ON_COMMAND(IDOK, &CDialog::OnOK)
  ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
  ON_MESSAGE(WM_CTLCOLORDLG, &CDialog::OnCtlColorDlg)
  ON_MESSAGE(WM_CTLCOLORSTATIC, &CDialog::OnCtlColorStatic)
  ON_MESSAGE(WM_CTLCOLORBTN, &CDialog::OnCtlColorBtn)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() {}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // The dialog's object comes as the creation parameter and takes over the
  // window on WM_INITDIALOG; from then on its messages reach the object
  // through the common window procedure, and what reaches this procedure is
  // default processing. The messages before WM_INITDIALOG (the font, the
  // controls' creation) are the dialog manager's own.
  if (message != WM_INITDIALOG || CWnd::FromHandlePermanent(hWnd) != NULL) return FALSE;
  CDialog* pDlg = reinterpret_cast<CDialog*>(lParam);
  if (pDlg == NULL || !pDlg->SubclassWindow(hWnd)) {
    // Nothing could ever end a dialog without its object.
    ::EndDialog(hWnd, -1);
    return FALSE;
  }
  return static_cast<INT_PTR>(AfxWndProc(hWnd, message, wParam, lParam));
}

INT_PTR CDialog::DoModal() {
  if (m_hWnd != NULL) return -1;
  HWND hWndOwner = NULL;
  if (m_pParentWnd != NULL) {
    hWndOwner = m_pParentWnd->m_hWnd;
  } else {
    CWnd* pMainWnd = AfxGetMainWnd();
    if (pMainWnd != NULL && pMainWnd != this && ::IsWindow(pMainWnd->m_hWnd)) {
      hWndOwner = pMainWnd->m_hWnd;
    }
  }
  INT_PTR nResult = ::DialogBoxParamA(AfxGetResourceHandle(), MAKEINTRESOURCEA(m_nIDTemplate),
                                      hWndOwner, DialogProc, reinterpret_cast<LPARAM>(this));
  AfxPurgeTemporaryWindows();
  return nResult;
}

void CDialog::EndDialog(int nResult) { ::EndDialog(m_hWnd, nResult); }

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
  CDataExchange dx(this, bSaveAndValidate);
  DoDataExchange(&dx);
  return TRUE;
}

void CDialog::GotoDlgCtrl(CWnd* pWndCtrl) {
  if (pWndCtrl == NULL) return;
  SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(pWndCtrl->m_hWnd), 1);
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg) {
  bool bInput = (pMsg->message >= WM_KEYFIRST && pMsg->message <= WM_KEYLAST) ||
                (pMsg->message >= WM_MOUSEFIRST && pMsg->message <= WM_MOUSELAST);
  return bInput && ::IsDialogMessageA(m_hWnd, pMsg);
}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) { return OnInitDialog(); }

LRESULT CDialog::OnCtlColorDlg(WPARAM wParam, LPARAM lParam) {
  return AfxDialogColours(this, WM_CTLCOLORDLG, wParam, lParam);
}

LRESULT CDialog::OnCtlColorStatic(WPARAM wParam, LPARAM lParam) {
  return AfxDialogColours(this, WM_CTLCOLORSTATIC, wParam, lParam);
}

LRESULT CDialog::OnCtlColorBtn(WPARAM wParam, LPARAM lParam) {
  return AfxDialogColours(this, WM_CTLCOLORBTN, wParam, lParam);
}

LRESULT AfxDialogColours(CWnd* pWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWinApp* pApp = AfxGetApp();
  if (pApp == NULL || pApp->m_hDlgBkBrush == NULL) return pWnd->Default();
  if (message == WM_CTLCOLORSTATIC) {
    // Read-only and disabled edit fields ask here too; they keep the
    // system's colours.
    char szClass[8];
    if (::GetClassNameA(reinterpret_cast<HWND>(lParam), szClass, sizeof szClass) > 0 &&
        ::lstrcmpiA(szClass, "Edit") == 0) {
      return pWnd->Default();
    }
  }
  HDC hDC = reinterpret_cast<HDC>(wParam);
  ::SetBkColor(hDC, pApp->m_crDlgBk);
  ::SetTextColor(hDC, pApp->m_crDlgText);
  return reinterpret_cast<LRESULT>(pApp->m_hDlgBkBrush);
}

// --- Message boxes

namespace {

// A message box of the program, in the application's dialog colours.
class CMessageBoxLook : public CWnd {
 protected:
  LRESULT OnCtlColorDlg(WPARAM wParam, LPARAM lParam) {
    return AfxDialogColours(this, WM_CTLCOLORDLG, wParam, lParam);
  }
  LRESULT OnCtlColorStatic(WPARAM wParam, LPARAM lParam) {
    return AfxDialogColours(this, WM_CTLCOLORSTATIC, wParam, lParam);
  }
  LRESULT OnCtlColorBtn(WPARAM wParam, LPARAM lParam) {
    return AfxDialogColours(this, WM_CTLCOLORBTN, wParam, lParam);
  }

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CMessageBoxLook, CWnd)
  ON_MESSAGE(WM_CTLCOLORDLG, &CMessageBoxLook::OnCtlColorDlg)
  ON_MESSAGE(WM_CTLCOLORSTATIC, &CMessageBoxLook::OnCtlColorStatic)
  ON_MESSAGE(WM_CTLCOLORBTN, &CMessageBoxLook::OnCtlColorBtn)
END_MESSAGE_MAP()

}  // namespace

int AfxShowMessageBox(HWND hWndOwner, LPCSTR lpszText, LPCSTR lpszCaption, UINT nType) {
  CWinApp* pApp = AfxGetApp();
  if (pApp == NULL || pApp->m_hDlgBkBrush == NULL) {
    return ::MessageBoxA(hWndOwner, lpszText, lpszCaption, nType);
  }
  // The box is gone when MessageBoxA returns, and the object with it. The
  // system makes the box, so only the creation hook can reach it before its
  // first message.
  CMessageBoxLook look;
  CWindowCreationHook hook(&look, "#32770");
  return ::MessageBoxA(hWndOwner, lpszText, lpszCaption, nType);
}
