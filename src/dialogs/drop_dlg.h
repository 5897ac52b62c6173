// CDropDlg: the main window of a start without file names (template 102).
// Files dropped on it from the desktop shell open the Translate Linebreaks
// dialog for them, one dialog per drop. "About..." opens the About box, and
// the "Auto Minimize" check box, kept in the profile as [Options]
// AutoMinimize ("yes"/"no", missing: yes), minimises the window when it opens
// and each time a Translate Linebreaks dialog that it opened has closed.
// "Close" and Enter end it with IDOK; Escape, the close box, WM_CLOSE and the
// end of the session with IDCANCEL.
#ifndef QUENLAT_DIALOGS_DROP_DLG_H
#define QUENLAT_DIALOGS_DROP_DLG_H

#include <windows.h>
#include <shellapi.h>

#include "framework/button.h"
#include "framework/dialog.h"
#include "framework/text.h"

class CDropDlg : public CDialog {
 public:
  // Loads the application's icon (resource 2).
  explicit CDropDlg(CWnd* pParent = NULL);
  ~CDropDlg() override;

  // Replaces the contents of pList with the paths of a drop, files and
  // folders alike, whole whatever their length, in the shell's order, each
  // in UTF-8 (exactly as the shell names it, as the batch takes it).
  // Always TRUE.
  static BOOL GetDroppedFiles(HDROP hDrop, CStringList* pList);

  // Control IDC_AUTO_MINIMIZE: the only place that holds the option while
  // the window is open.
  CButton m_btnAutoMinimize;
  // The window's large icon, its picture while minimised and its drag
  // image; never released.
  HICON m_hIcon;

 protected:
  // Attaches the check box; moves no value.
  void DoDataExchange(CDataExchange* pDX) override;
  // Centres the window on the work area, sets its icon, accepts dropped
  // files, sets the check box from the profile and, when it is checked,
  // minimises the window.
  BOOL OnInitDialog() override;
  void OnCancel() override;

  // Minimised: the icon centred over an erased background.
  void OnPaint();
  HCURSOR OnQueryDragIcon();
  // Keeps the window minimised at opening (see m_bRefuseFirstOpen).
  LRESULT OnQueryOpen(WPARAM wParam, LPARAM lParam);
  // A restore through the system command is the user's: never refused.
  void OnSysCommand(UINT nID, LPARAM lParam);
  // Takes the paths, releases the drop, runs the Translate Linebreaks
  // dialog for them and then minimises the window if the option is on.
  void OnDropFiles(HDROP hDropInfo);
  void OnAbout();
  // A session that ends closes the window.
  void OnEndSession(BOOL bEnding);
  // Writes the check box's new state to the profile at once.
  void OnAutoMinimize();

  DECLARE_MESSAGE_MAP()

 private:
  void MinimizeIfChosen();

  // Set when the window has been minimised at opening. The dialog manager
  // of some hosts shows a modal dialog in its normal state once its loop
  // runs, by a bare show that would undo that minimise; it is refused. A
  // user restores a window through the system command (its menu, a click
  // on the minimised window, the taskbar), which clears the flag, so on a
  // host without that show the user's first restore is not lost.
  BOOL m_bRefuseFirstOpen;
};

#endif
