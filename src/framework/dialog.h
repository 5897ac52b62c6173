// CDialog: modal dialogs built from dialog templates, with data exchange
// between controls and members.
#ifndef QUENLAT_FRAMEWORK_DIALOG_H
#define QUENLAT_FRAMEWORK_DIALOG_H

#include <windows.h>

#include "framework/text.h"
#include "framework/wnd.h"

// One data-exchange pass: from the controls into the members when
// m_bSaveAndValidate is TRUE, from the members into the controls otherwise.
class CDataExchange {
 public:
  CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
      : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

  BOOL m_bSaveAndValidate;
  CWnd* m_pDlgWnd;

  // The handle of the dialog's control nIDC, or NULL when there is none.
  HWND PrepareCtrl(int nIDC);
};

// The radio group that starts at control nIDC (which has the group style)
// and runs to the next control with the group style; only radio buttons
// count, in template order, from 0. Into the controls: the button whose
// index equals value is checked and all others cleared (none checked when
// value is out of range). Out of the controls: value = the index of the
// checked button, or -1 when none is checked.
void DDX_Radio(CDataExchange* pDX, int nIDC, int& value);
// The control's text and the string, as they are.
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);
// Subclasses control nIDC into rControl the first time (when rControl has
// no window yet); moves no value.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

// The answer of a window of the program to WM_CTLCOLORDLG, WM_CTLCOLORSTATIC
// or WM_CTLCOLORBTN: the application's dialog colours (set on the device
// context, and its brush returned) once CWinApp::SetDialogBkColor has been
// called; otherwise, and for edit fields, pWnd's default processing.
LRESULT AfxDialogColours(CWnd* pWnd, UINT message, WPARAM wParam, LPARAM lParam);

class CDialog : public CWnd {
 public:
  // The dialog of template number nIDTemplate. With no parent, the
  // application's main window (if one is registered and exists) becomes the
  // owner when the dialog runs.
  explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = NULL);
  ~CDialog() override;

  // Runs the dialog modally: the owner is disabled while it runs. Returns
  // the value given to EndDialog, or -1 when the dialog could not be made.
  virtual INT_PTR DoModal();
  // Ends the modal run with nResult once the current message is handled.
  void EndDialog(int nResult);

  // WM_INITDIALOG: the data exchange into the controls; TRUE lets the dialog
  // manager give the focus to the first tab stop.
  virtual BOOL OnInitDialog();
  // IDOK: the data exchange out of the controls, then EndDialog(IDOK).
  virtual void OnOK();
  // IDCANCEL (also Escape and the close box): EndDialog(IDCANCEL).
  virtual void OnCancel();

  // Lists the DDX_ calls of the dialog; the default has none.
  virtual void DoDataExchange(CDataExchange* pDX);
  // One data-exchange pass (TRUE: controls into members). Returns TRUE.
  BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

  // Moves the focus to pWndCtrl the way the dialog manager does
  // (WM_NEXTDLGCTL with the handle).
  void GotoDlgCtrl(CWnd* pWndCtrl);

  // Keyboard and mouse input for the dialog and its controls goes through
  // the dialog manager (IsDialogMessage).
  BOOL PreTranslateMessage(MSG* pMsg) override;

  UINT m_nIDTemplate;
  CWnd* m_pParentWnd;

 protected:
  LRESULT HandleInitDialog(WPARAM wParam, LPARAM lParam);
  // The application's dialog colours (CWinApp::SetDialogBkColor) for the
  // dialog's background and its static texts, buttons, check boxes, radio
  // buttons and group boxes.
  LRESULT OnCtlColorDlg(WPARAM wParam, LPARAM lParam);
  LRESULT OnCtlColorStatic(WPARAM wParam, LPARAM lParam);
  LRESULT OnCtlColorBtn(WPARAM wParam, LPARAM lParam);

  DECLARE_MESSAGE_MAP()

 private:
  static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
};

#endif
