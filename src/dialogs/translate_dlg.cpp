#include "dialogs/translate_dlg.h"

#include "convert/translate.h"
#include "framework/winapp.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "win32/wide_text.h"

namespace {

const char kBatchCancelled[] = "Batch cancelled.";

// How the dialog's ANSI texts show the UTF-8 path: the code page's closest
// characters, for the eye only (never to open a file by).
std::string Shown(const std::string& path) {
  std::wstring wide;
  if (!WideFromUtf8(path, &wide)) return path;
  const int n = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                      NULL, 0, NULL, NULL);
  std::string shown(static_cast<size_t>(n), '\0');
  if (n > 0) {
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &shown[0], n,
                          NULL, NULL);
  }
  return shown;
}

}  // namespace

BEGIN_MESSAGE_MAP(CTranslateDlg, CDialog)
  ON_BN_CLICKED(IDOK, &CTranslateDlg::OnConvert)
END_MESSAGE_MAP()

CTranslateDlg::CTranslateDlg(const CStringList* pFileList, CWnd* pParent)
    : CDialog(IDD_TRANSLATE, pParent),
      m_nTransMode(-1),
      m_pFileList(pFileList),
      m_pProgress(NULL),
      m_bCancel(FALSE),
      m_bBusy(FALSE) {
  RegisterProgressBarClass();
}

CTranslateDlg::~CTranslateDlg() {}

void CTranslateDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Radio(pDX, IDC_MODE_AUTOMATIC, m_nTransMode);
}

BOOL CTranslateDlg::OnInitDialog() {
  m_nTransMode = AfxGetApp()->GetProfileInt(kTransModeEntry.lpszSection,
                                           kTransModeEntry.lpszEntry, ModeAutomatic);
  CDialog::OnInitDialog();
  CenterWindow(GetDesktopWindow());
  // Only the control's own object will do: a window of another class
  // registered under the same name has none.
  m_pProgress = dynamic_cast<CProgressBar*>(GetDlgItem(IDC_PROGRESS));
  CString strStatus;
  strStatus << static_cast<unsigned long>(m_pFileList != NULL ? m_pFileList->GetCount() : 0)
            << " file(s) to convert...";
  SetStatus(strStatus);
  return TRUE;
}

void CTranslateDlg::OnCancel() {
  if (m_bBusy) {
    m_bCancel = TRUE;
    return;
  }
  CDialog::OnCancel();
}

void CTranslateDlg::OnConvert() {
  // The button is disabled while a batch runs; this also keeps out a click
  // that arrives some other way through the messages handled between files.
  if (m_bBusy) return;
  m_bBusy = TRUE;
  unsigned long nConverted = 0;
  UpdateData(TRUE);
  AfxGetApp()->WriteProfileInt(kTransModeEntry.lpszSection, kTransModeEntry.lpszEntry,
                               m_nTransMode);
  GetDlgItem(IDOK)->EnableWindow(FALSE);
  GotoDlgCtrl(GetDlgItem(IDCANCEL));

  const unsigned long nCount = m_pFileList != NULL ? m_pFileList->GetCount() : 0;
  bool bStoppedByUser = false;
  POSITION pos = m_pFileList != NULL ? m_pFileList->GetHeadPosition() : NULL;
  for (unsigned long n = 1; n <= nCount && pos != NULL; ++n) {
    // A copy: the list stays the caller's, whatever the messages below do.
    const CString strPath = m_pFileList->GetNext(pos);
    CString strStatus;
    strStatus << "File " << n << ": " << Shown(strPath.GetString()).c_str();
    SetStatus(strStatus);

    MSG msg;
    if (::PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE)) AfxGetApp()->PumpMessage();
    if (m_bCancel) {
      SetStatus(kBatchCancelled);
      break;
    }

    if (!ProbeWritable(strPath.GetString())) {
      CString strQuestion;
      strQuestion << Shown(strPath.GetString()).c_str() << "\n\n" << "This file cannot be opened for writing. Continue batch?";
      if (!AskToContinue(strQuestion)) {
        bStoppedByUser = true;
        break;
      }
      continue;
    }
    if (ConvertFile(strPath)) {
      if (m_pProgress != NULL) {
        m_pProgress->SetPos(static_cast<UINT>(100ULL * n / nCount), FALSE);
      }
      ++nConverted;
    } else if (!AskToContinue("Conversion Failed. Continue batch?")) {
      bStoppedByUser = true;
      break;
    }
  }

  if (!m_bCancel && !bStoppedByUser) {
    CString strStatus;
    strStatus << nConverted << " files converted.";
    SetStatus(strStatus);
  }
  SetDlgItemText(IDCANCEL, "Close");
  SetDlgItemText(IDOK, "Again");
  GetDlgItem(IDOK)->EnableWindow(TRUE);
  m_bBusy = FALSE;
}

BOOL CTranslateDlg::AskToContinue(LPCSTR pszQuestion) {
  if (MessageBox(pszQuestion, AfxGetAppName(), MB_YESNO | MB_ICONEXCLAMATION) != IDNO) return TRUE;
  SetStatus(kBatchCancelled);
  return FALSE;
}

BOOL CTranslateDlg::ConvertFile(LPCSTR pszPath) {
  ConvertOptions options;
  options.reporter = this;
  options.mode = m_nTransMode;
  return ::ConvertFileInPlace(pszPath, options) ? TRUE : FALSE;
}

void CTranslateDlg::ReportFileError(const FileError& error) {
  MessageBox(FileErrorText(Shown(error.path), error.code).c_str(), AfxGetAppName(), MB_OK | MB_ICONSTOP);
}

void CTranslateDlg::SetStatus(LPCSTR pszText) { SetDlgItemText(IDC_STATUS, pszText); }
