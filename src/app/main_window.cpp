#include "app/main_window.h"

#include "dialogs/drop_dlg.h"
#include "framework/winapp.h"

void RunMainDropWindow() {
  CDropDlg dlg(NULL);
  // The framework clears the registration when the window is destroyed,
  // as the modal run ends.
  AfxGetApp()->m_pMainWnd = &dlg;
  dlg.DoModal();
}
